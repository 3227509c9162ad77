// Opens fuzzed bytes as an archive trailer: the end record search, the Zip64 locator
// and record, self-extractor stub probing and the multi-part fallback. Nothing may be
// read outside the file, and the values kept must stay within the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestTempDir.h"
#include "ZMEOC.h"
#include "ZipMate.h"

namespace fs = std::filesystem;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zmtest::TTempDir dir("zmtrailer");
  static TZipMate zm;
  // The first byte picks the file's name (a numbered part or not) and the open.
  const uint8_t mode = size > 0 ? data[0] : 0;
  const std::string name = dir.Dir() + ((mode & 1) ? "arc001.zip" : "arc.exe");
  {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return 0;
    if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
  }
  const int64_t fileSize = int64_t(size > 0 ? size - 1 : 0);
  TZMEOC eoc(zm);
  zm.SetSpanOptions((mode & 2) ? TZMSpanOpts{spExactName} : TZMSpanOpts{});
  eoc.SetFileName(name);
  const int32_t r = (mode & 4) ? eoc.OpenEOC((mode & 8) != 0) : eoc.OpenTrailer((mode & 8) != 0);
  if (r >= 0) {
    Check(r <= 3);
    if (eoc.IsOpen() && eoc.FileName() == name) {
      Check(eoc.EOCOffset() >= 0 && eoc.EOCOffset() < fileSize);
      Check(eoc.ArchiveSize() <= fileSize);
      Check(eoc.ZipCommentLength() <= 65535 && eoc.ZipCommentLength() <= fileSize);
      Check(eoc.TotalEntries() >= 0 && eoc.CentralEntries() >= 0);
      Check(eoc.CentralSize() >= 0 && eoc.CentralOffset() >= 0);
      if (eoc.Stub()) Check(eoc.Stub()->Size() <= fileSize);
    }
    eoc.DetectNumbering();
  } else {
    Check(!eoc.IsOpen());
  }
  eoc.File_Close();
  std::error_code ec;
  fs::remove(name, ec);
  return 0;
}
