// Joins fuzzed split sets into one file through the component. The first byte picks the
// number of parts (1 to 4), their names (set.z01 ... set.zip, or set001.zip ...) and the
// destination: a new name, an existing file, one of the parts, or a folder. Two bytes a
// part give where the next part starts; the rest are the set's bytes.
// Whatever happens, the parts are never changed; a refused or failed join leaves the
// destination as it was and nothing else in the folder; a join onto a part of its own
// source is always refused (a file named like a part that the source does not need may
// be replaced); a successful one adds exactly the destination.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "TestTempDir.h"
#include "ZipMate.h"
#include "FuzzCheck.h"

namespace fs = std::filesystem;

namespace {

void WriteAll(const fs::path& p, const std::string& data) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
}

// Every file below root with its contents (folders as "name/").
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    m[e.is_directory() ? rel + "/" : rel] = e.is_directory() ? std::string() : ReadAll(e.path());
  }
  return m;
}

const fs::path& Root() {
  static const zmtest::TTempDir dir("zm_join_fuzz_");
  return dir.Path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const size_t parts = 1 + (mode & 3);
  const bool numbered = mode & 4;
  const int destKind = (mode >> 3) & 3;  // 0 new, 1 existing file, 2 a part, 3 a folder
  size_t pos = 1;
  std::vector<size_t> cuts;
  for (size_t i = 1; i < parts && pos + 2 <= size; ++i, pos += 2)
    cuts.push_back(data[pos] | data[pos + 1] << 8);
  const std::string bytes(reinterpret_cast<const char*>(data + pos), size - pos);

  const fs::path dir = Root() / "set", out = Root() / "out";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::remove_all(out, ec);
  fs::create_directories(dir);
  fs::create_directories(out);
  std::vector<fs::path> names;
  size_t from = 0;
  for (size_t i = 0; i < parts; ++i) {
    const bool last = i + 1 == parts;
    const size_t to = last ? bytes.size() : std::min(bytes.size(), from + (i < cuts.size() ? cuts[i] : 0));
    char part[16];
    if (numbered)
      std::snprintf(part, sizeof part, "set%03zu.zip", i + 1);
    else if (last)
      std::snprintf(part, sizeof part, "set.zip");
    else
      std::snprintf(part, sizeof part, "set.z%02zu", i + 1);
    names.push_back(dir / part);
    WriteAll(names.back(), bytes.substr(from, to - from));
    from = to;
  }
  std::string dest;
  switch (destKind) {
    case 0: dest = (out / "whole.zip").string(); break;
    case 1:
      dest = (out / "whole.zip").string();
      WriteAll(dest, "old contents");
      break;
    case 2: dest = names[mode >> 5 < parts ? mode >> 5 : 0].string(); break;
    default: dest = out.string() + "/"; break;
  }
  const auto setBefore = Snapshot(dir), outBefore = Snapshot(out);

  TZipMate z;
  z.SetUnattended(true);
  z.SetHowToDelete(htdFinal);
  z.SetZipFileName(names.back().string());
  std::string written = dest;
  // The name written comes back, or nothing after a failure (a warning may still be
  // reported with a complete file).
  z.JoinToSingleFile(written);

  const auto outAfter = Snapshot(out);
  if (destKind == 2 && !written.empty()) {
    // A file named like a part was replaced: then the source is whole without it (a
    // last part that is a complete archive of its own), and the join from the other
    // parts alone writes the same bytes.
    Check(written == dest);
    const std::string mine = fs::relative(dest, dir).string();
    auto before = setBefore, after = Snapshot(dir);
    before.erase(mine);
    after.erase(mine);
    Check(after == before);
    const fs::path alone = Root() / "alone";
    fs::remove_all(alone, ec);
    fs::create_directories(alone);
    for (const auto& [rel, bytes] : before) WriteAll(alone / rel, bytes);
    TZipMate again;
    again.SetUnattended(true);
    again.SetZipFileName((alone / names.back().filename()).string());
    std::string copy = (alone / "whole.zip").string();
    again.JoinToSingleFile(copy);
    Check(!copy.empty() && ReadAll(copy) == ReadAll(written));
    return 0;
  }
  Check(Snapshot(dir) == setBefore);
  if (destKind == 2) Check(written.empty());
  if (written.empty()) {
    Check(outAfter == outBefore);
  } else {
    Check(fs::is_regular_file(written));
    Check(fs::path(written).parent_path() == out);
    // Exactly the destination is new or changed.
    auto rest = outAfter;
    rest.erase(fs::relative(written, out).string());
    auto before = outBefore;
    before.erase(fs::relative(written, out).string());
    Check(rest == before);
  }
  return 0;
}
