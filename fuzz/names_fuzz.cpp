// Fuzzes the names of entries from their stored bytes to the path the engine writes:
// the shared decoder (flags, host, Unicode path field, encoding option, code pages),
// the engine's name checks and the joining of the parts below the base folder, and the
// separator conversion of double-byte code pages.
// A name the checks accept has only plain parts (no empty part, no "." or "..", no
// separator, no control character inside one), and its path stays below the base
// folder, lexically too; converting separators never changes a double-byte character.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "DZArchive.h"
#include "DZExtract.h"
#include "PlatPath.h"
#include "ZMStoredText.h"
#include "FuzzCheck.h"

namespace {

const unsigned kCodePages[] = {0, 437, 850, 852, 866, 932, 936, 949, 950, 1250, 1251, 1252, 65001};

void CheckSeparators(const std::string& raw, unsigned cp) {
  const std::string turned = zm::ReplaceSeparators(raw, '\\', '/', cp);
  Check(turned.size() == raw.size());
  const std::u16string a = zm::WideFromMultiByte(cp, 0, raw.data(), int(raw.size()));
  const std::u16string b = zm::WideFromMultiByte(cp, 0, turned.data(), int(turned.size()));
  Check(a.size() == b.size());
  for (size_t i = 0; i < a.size(); ++i) Check(a[i] == b[i] || (a[i] == u'\\' && b[i] == u'/'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint16_t flags = (data[0] & 1) ? 0x800 : 0;
  const uint16_t madeBy = uint16_t((data[0] >> 1) % 20) << 8 | 20;
  const int encoding = data[1] % 5;
  const unsigned codePage = kCodePages[data[2] % (sizeof kCodePages / sizeof kCodePages[0])];
  const unsigned oem = kCodePages[data[3] % (sizeof kCodePages / sizeof kCodePages[0])];
  const size_t nameLen = std::min<size_t>(data[4], size - 5);
  const std::string raw(reinterpret_cast<const char*>(data + 5), nameLen);
  const std::string_view extra(reinterpret_cast<const char*>(data + 5 + nameLen), size - 5 - nameLen);

  const std::string name = dz::EntryName(raw, extra, flags, madeBy, encoding, codePage, oem);
  std::vector<std::string> parts;
  if (dz::SplitSafeName(name, parts)) {
    Check(!parts.empty());
    for (const std::string& p : parts) {
      Check(!p.empty() && p != "." && p != "..");
      for (unsigned char c : p) Check(c >= 0x20 && c != 0x7F && c != '/' && c != '\\');
    }
    const std::string base = std::string(1, plat::PathDelim) + "base" + plat::PathDelim;
    for (bool dirs : {false, true}) {
      const std::string target = dz::TargetPath(base, parts, dirs);
      Check(target.compare(0, base.size(), base) == 0 && target.size() > base.size());
      const std::filesystem::path normal = std::filesystem::path(target).lexically_normal();
      const std::filesystem::path inside = normal.lexically_relative(std::filesystem::path(base));
      Check(!inside.empty() && *inside.begin() != "..");
    }
  }
  if (codePage) CheckSeparators(raw, codePage);
  return 0;
}
