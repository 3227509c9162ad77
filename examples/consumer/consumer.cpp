// A program of its own that uses the installed ZipMate191 library: it lists an archive
// and extracts it below a folder, reporting progress as it goes.
//   consumer ARCHIVE DEST
// Exit status 0 when every entry was extracted, 1 otherwise, 2 for a usage error.
#include <ZipMate191/ZipMate.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE DEST\n", argv[0]);
    return 2;
  }
  TZipMate zip;
  zip.SetUnattended(true);  // failures come back as ErrCode and ErrMsg, never as a dialog
  zip.OnMessage = [](TObject*, int code, const std::string& text) {
    if (code != 0) std::fprintf(stderr, "message %d: %s\n", code, text.c_str());
  };

  zip.SetZipFileName(argv[1]);
  if (zip.ErrCode() != 0) {
    std::fprintf(stderr, "cannot list %s: %s (error %d)\n", argv[1], zip.ErrMsg().c_str(), zip.ErrCode());
    return 1;
  }
  std::printf("%d entries in %s\n", zip.Count(), argv[1]);
  for (int i = 0; i < zip.Count(); ++i) {
    auto entry = zip.DirEntry(i);
    std::printf("  %10lld  %s\n", static_cast<long long>(entry->UncompressedSize()),
                entry->FileName().c_str());
  }

  int lastPercent = -1;
  zip.OnProgress = [&](TObject*, TZMProgressDetails* p) {
    if (p->TotalBytes() <= 0) return;
    const int percent = int(p->TotalDone() * 100 / p->TotalBytes());
    if (percent != lastPercent) std::printf("progress %3d%%  %s\n", percent, p->CurrentName().c_str());
    lastPercent = percent;
  };
  zip.SetExtrBaseDir(argv[2]);
  zip.SetExtrOptions(TZMExtrOpts{ExtrDirNames, ExtrForceDirs});
  zip.Extract();
  if (zip.ErrCode() != 0) {
    std::fprintf(stderr, "extraction failed: %s (error %d)\n", zip.ErrMsg().c_str(), zip.ErrCode());
    return 1;
  }
  std::printf("%d entries extracted into %s\n", zip.SuccessCnt(), argv[2]);
  return zip.SuccessCnt() == zip.Count() ? 0 : 1;
}
