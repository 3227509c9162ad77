// Rewrites the comment of fuzzed archives in place through the component. Two bytes
// give the length of the new comment, which follows; the rest is the archive.
// A refused or failed rewrite leaves the file byte for byte as it was; an accepted one
// leaves an archive that lists the same entries with the new comment, and no end-record
// signature after its end record (where readers that search backwards would take it for
// the end record). Either way the archive's private folder holds nothing else after
// the input, so that nothing one input leaves behind is read as a part of the next.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ZMLister.h"
#include "ZipMate.h"
#include "FuzzCheck.h"

namespace fs = std::filesystem;

namespace {

struct TListing {
  bool Ok = false;
  std::vector<std::string> Names;
  std::string Comment;
};

TListing List(const std::string& path) {
  TListing l;
  TZipMate z;
  z.SetUnattended(true);
  z.SetZipFileName(path);
  l.Ok = z.ErrCode() == 0;
  for (int i = 0; i < z.Count(); ++i)
    if (auto e = z.DirEntry(i)) l.Names.push_back(e->FileName());
  l.Comment = z.ZipComment();
  return l;
}

// Lists the archive at path, rewrites its comment and checks the outcome.
void RewriteAndCheck(const fs::path& path, const std::string& comment, const std::string& archive) {
  const TListing before = List(path.string());
  if (!before.Ok) return;
  {
    TZipMate z;
    z.SetUnattended(true);
    z.SetZipFileName(path.string());
    z.SetZipComment(comment);
    if (z.ErrCode() != 0 || z.ZipComment() != comment) {
      Check(ReadAll(path) == archive);
      return;
    }
  }
  const TListing after = List(path.string());
  Check(after.Ok);
  Check(after.Names == before.Names);
  Check(after.Comment == comment);
  const std::string bytes = ReadAll(path);
  const size_t end = bytes.size() - comment.size() - 22;
  Check(bytes.find("PK\x05\x06", end + 4) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t len = std::min<size_t>(data[0] | data[1] << 8, size - 2);
  const std::string comment(reinterpret_cast<const char*>(data + 2), len);
  const std::string archive(reinterpret_cast<const char*>(data + 2 + len), size - 2 - len);
  static const zmtest::TTempDir dir("zm_comment_fuzz_");
  const fs::path path = fs::path(dir.Path) / "a.zip";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << archive;
  RewriteAndCheck(path, comment, archive);
  for (const auto& de : fs::directory_iterator(dir.Path)) Check(de.path() == path);
  return 0;
}
