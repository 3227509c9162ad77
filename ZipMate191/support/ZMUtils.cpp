#include "ZMUtils.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "PlatPath.h"
#include "ZMCrc32.h"
#include "ZMEndian.h"
#include "ZMStoredText.h"
#include "ZMUTF8.h"
#include "ZMXcpt.h"
#include "ZMRecords.h"

// ---------------------------------------------------------------- CRC-32

uint32_t Crc32Update(uint32_t reg, const void* bytes, size_t count) {
  if (!bytes) return reg;
  return zm::Crc32UpdateBytewise(reg, bytes, count);
}

uint32_t Crc32(const void* bytes, size_t count, uint32_t previous) {
  if (!bytes) return previous;
  // Same register sequence as Crc32Update, several bytes per step.
  return ~zm::Crc32UpdateFast(~previous, bytes, count);
}

// ---------------------------------------------------------------- extra fields

namespace {

std::string FilterExtraBlocks(const std::string& extra, const std::vector<uint32_t>& tags, int highIndex,
                              bool keep) {
  std::string out;
  const size_t size = extra.size();
  if (size < 4) return out;
  size_t pos = 0;
  // A block is examined only when at least 5 bytes remain from its start.
  while (size - pos >= 5) {
    const uint16_t tag = zm::GetLE16(extra.data() + pos);
    const size_t end = pos + 4 + zm::GetLE16(extra.data() + pos + 2);
    if (IsInList(tag, tags, highIndex) == keep && end <= size) out.append(extra, pos, end - pos);
    if (end >= size) break;
    pos = end;
  }
  return out;
}

}  // namespace

std::string KeepExtraBlocks(const std::string& extra, const std::vector<uint32_t>& tags, int highIndex) {
  return FilterExtraBlocks(extra, tags, highIndex, true);
}

std::string DropExtraBlocks(const std::string& extra, const std::vector<uint32_t>& tags, int highIndex) {
  return FilterExtraBlocks(extra, tags, highIndex, false);
}

// ---------------------------------------------------------------- executables

namespace {

constexpr uint16_t kMZ = 0x5A4D;
constexpr uint32_t kPESig = 0x00004550;
constexpr uint16_t kMachineI386 = 0x014C;
constexpr int kOptHeader32Size = 224;
constexpr int kSectionHeaderSize = 40;

constexpr uint32_t kStubAEndSig = 0x010A5A44;
constexpr uint32_t kStubANameSig = 0x01145A44;
constexpr uint32_t kStubANameEndSig = 0x02145A44;

bool ReadExact(TStream& s, void* buf, int n) { return s.Read(buf, n) == n; }
bool SeekTo(TStream& s, int64_t pos) { return pos >= 0 && s.Seek(pos, plat::soBeginning) == pos; }

// The extension of a file name including its dot, or "" (after the last folder).
std::string FileExtension(const std::string& name) {
  for (size_t i = name.size(); i-- > 0;) {
    const char c = name[i];
    if (c == '.') return name.substr(i);
    if (c == plat::PathDelim || c == ':') break;
  }
  return {};
}

// A name stored in a stub trailer must name a file beside the executable: no folder
// parts, drive, zero bytes or dot-only names that would lead elsewhere.
bool IsBareName(const std::string& s) {
  if (s == "." || s == "..") return false;
  return s.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

[[noreturn]] void RaiseUtils(int msg, int line) {
  throw EZipMate::CreateCode(ZMMakeCode(zmmZMUtils, line, msg));
}
#define ZM_RAISE(msg) RaiseUtils((msg), __LINE__)

TImageSectionHeader ParseSection(const uint8_t* b) {
  TImageSectionHeader h;
  std::memcpy(h.Name, b, 8);
  h.VirtualSize = zm::GetLE32(b + 8);
  h.VirtualAddress = zm::GetLE32(b + 12);
  h.SizeOfRawData = zm::GetLE32(b + 16);
  h.PointerToRawData = zm::GetLE32(b + 20);
  h.PointerToRelocations = zm::GetLE32(b + 24);
  h.PointerToLinenumbers = zm::GetLE32(b + 28);
  h.NumberOfRelocations = zm::GetLE16(b + 32);
  h.NumberOfLinenumbers = zm::GetLE16(b + 34);
  h.Characteristics = zm::GetLE32(b + 36);
  return h;
}

// Walks a resource tree for the first data entry of icon 1. Every directory is
// visited at most once and the number of entries read is bounded by the stream's
// size, so that a looping or overlapping tree cannot run away.
class TIconSearch {
 public:
  TIconSearch(TStream& s, int64_t base) : FS(s), FBase(base) {
    const int64_t size = s.Size();
    FBudget = (size > 0 ? size / 8 : 0) + 16;
  }

  bool Walk(int64_t dirPos, int depth, TImageResourceDataEntry& entry) {
    if (!FVisited.insert(dirPos).second || depth > kMaxDepth) return false;
    uint8_t hdr[16];
    if (!SeekTo(FS, dirPos) || !ReadExact(FS, hdr, 16)) ZM_RAISE(143);
    const int count = int(zm::GetLE16(hdr + 12)) + int(zm::GetLE16(hdr + 14));
    int64_t next = dirPos + 16;
    for (int i = 0; i < count; ++i, next += 8) {
      if (--FBudget < 0) ZM_RAISE(143);
      uint8_t e[8];
      if (!SeekTo(FS, next) || !ReadExact(FS, e, 8)) ZM_RAISE(143);
      const uint32_t id = zm::GetLE32(e);
      const uint32_t off = zm::GetLE32(e + 4);
      if (off & 0x80000000u) {
        const bool enter = depth == 0 ? id == 3 : depth == 1 ? (id & 0xFFFF) == 1 : true;
        if (enter && Walk(FBase + (off & 0x7FFFFFFF), depth + 1, entry)) return true;
        continue;
      }
      uint8_t d[16];
      if (!SeekTo(FS, FBase + off) || !ReadExact(FS, d, 16)) ZM_RAISE(143);
      entry.OffsetToData = zm::GetLE32(d);
      entry.Size = zm::GetLE32(d + 4);
      entry.CodePage = zm::GetLE32(d + 8);
      entry.Reserved = zm::GetLE32(d + 12);
      return true;
    }
    return false;
  }

 private:
  static constexpr int kMaxDepth = 16;
  TStream& FS;
  int64_t FBase;
  int64_t FBudget;
  std::unordered_set<int64_t> FVisited;
};

// Icon images are DIBs (a 40- or 12-byte bitmap header first) or PNG images.
bool LooksLikeIconImage(const uint8_t* p, size_t n) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (n >= 8 && std::memcmp(p, kPng, 8) == 0) return true;
  if (n < 12) return false;
  const uint32_t hdr = zm::GetLE32(p);
  return (hdr == 40 && n >= 40) || hdr == 12;
}

TIcon IconFromBytes(TStream& s, const uint8_t* memory, size_t size) {
  TImageSectionHeader section;
  TImageResourceDataEntry entry;
  FindIconEntry(s, section, entry);
  const int64_t pos =
      int64_t(entry.OffsetToData) - int64_t(section.VirtualAddress) + int64_t(section.PointerToRawData);
  if (pos < 0 || entry.Size == 0 || uint64_t(pos) + entry.Size > size ||
      !LooksLikeIconImage(memory + pos, entry.Size))
    ZM_RAISE(149);
  TIcon icon;
  icon.SetBits(std::vector<uint8_t>(memory + pos, memory + pos + entry.Size));
  return icon;
}

}  // namespace

uint32_t ExeImageSize(TStream& s) {
  try {
    uint8_t dos[64];
    if (!SeekTo(s, 0) || !ReadExact(s, dos, 64) || zm::GetLE16(dos) != kMZ) return 0;
    uint8_t sig[4];
    if (!SeekTo(s, zm::GetLE32(dos + 60)) || !ReadExact(s, sig, 4) || zm::GetLE32(sig) != kPESig) return 0;
    uint8_t fh[20];
    if (!ReadExact(s, fh, 20) || zm::GetLE16(fh) != kMachineI386) return 0;
    const int sections = zm::GetLE16(fh + 2);
    const int64_t first = s.Seek(kOptHeader32Size, plat::soCurrent);
    if (first < 0) return 0;
    uint64_t largest = 0;
    for (int i = 0; i < sections; ++i) {
      uint8_t sh[kSectionHeaderSize];
      if (!ReadExact(s, sh, kSectionHeaderSize)) return 0;
      largest = std::max<uint64_t>(largest, uint64_t(zm::GetLE32(sh + 20)) + zm::GetLE32(sh + 16));
    }
    // An end past 4 GiB (or past the signed range the callers use) is no real image.
    return largest > 0x7FFFFFFFu ? 0 : uint32_t(largest);
  } catch (...) {
    return 0;
  }
}

uint32_t ExeImageSize(plat::THandle h) {
  if (h == plat::kInvalidHandle || h < 0) return 0;
  THandleStream s(h);
  return ExeImageSize(s);
}

int ProbeStub(TStream& s, std::string& archiveName, int64_t& dataOffset) {
  try {
    const int64_t image = ExeImageSize(s);
    if (image <= 0) {
      dataOffset = 0;
      return kStubNotExe;
    }
    archiveName = BareFileName(archiveName) + ".zip";
    dataOffset = image;
    uint8_t rec[12];
    if (!SeekTo(s, image)) return kStubBadRecord;
    if (!ReadExact(s, rec, 8)) return kStubNone;  // nothing (or too little) after the image
    const uint32_t sig = zm::GetLE32(rec);
    const int64_t headerLen = zm::GetLE16(rec + 4);
    if (sig != kStubASig && sig != kStubBSig) return kStubNone;
    if (headerLen < 8) return kStubBadRecord;
    dataOffset += 8;
    if (s.Seek(headerLen - 8, plat::soCurrent) < 0) return kStubBadRecord;
    if (!ReadExact(s, rec, 8)) return kStubBadRecord;

    if (sig == kStubBSig) {
      dataOffset += headerLen - 8;
      const uint32_t next = zm::GetLE32(rec);
      if (next == zm::layout::TCentralHeader::Signature) return kStubBCentral;
      if (next == zm::layout::TLocalHeader::Signature) return kStubB;
      return kStubBadRecord;
    }

    if (zm::GetLE32(rec) != kStubAEndSig) return kStubBadRecord;
    dataOffset += headerLen;
    if (!ReadExact(s, rec, 12)) return kStubBadRecord;
    const uint32_t kind = zm::GetLE32(rec);
    if (kind == zm::layout::TLocalHeader::Signature) return kStubA;
    if (kind != kStubANameSig) return kStubBadRecord;
    dataOffset += 12;
    const uint32_t n1 = zm::GetLE32(rec + 4);
    const uint32_t n2 = zm::GetLE32(rec + 8);
    // Lengths larger than what is left of the file are bad records, not allocations.
    const int64_t pos = s.Position();
    const int64_t remaining = pos < 0 ? 0 : s.Size() - pos;
    if (pos < 0 || !SeekTo(s, pos) || int64_t(n1) + int64_t(n2) > remaining || n1 > 0x7FFFFFFFu ||
        n2 > 0x7FFFFFFFu)
      return kStubBadRecord;
    if (n1 > 0) {
      std::string bytes(n1, '\0');
      if (!ReadExact(s, bytes.data(), int(n1)) || !IsBareName(bytes)) return kStubBadRecord;
      archiveName = bytes + FileExtension(archiveName);
      dataOffset += n1;
    }
    if (n2 > 0) {
      std::string bytes(n2, '\0');
      if (!ReadExact(s, bytes.data(), int(n2)) || !IsBareName(bytes)) return kStubBadRecord;
      dataOffset += n2;
      archiveName = BareFileName(archiveName) + "." + bytes;
    }
    if (!ReadExact(s, rec, 12) || zm::GetLE32(rec) != kStubANameEndSig) return kStubBadRecord;
    dataOffset += 12;
    if (!ReadExact(s, rec, 4) || zm::GetLE32(rec) != zm::layout::TCentralHeader::Signature)
      return kStubBadRecord;
    return kStubAFile;
  } catch (...) {
    return kStubException;
  }
}

int ProbeStub(plat::THandle h, std::string& archiveName, int64_t& dataOffset) {
  if (h == plat::kInvalidHandle || h < 0) {
    dataOffset = 0;
    return kStubNotExe;
  }
  THandleStream s(h);
  return ProbeStub(s, archiveName, dataOffset);
}

bool FindIconEntry(TStream& s, TImageSectionHeader& section, TImageResourceDataEntry& entry) {
  uint8_t dos[64];
  if (!SeekTo(s, 0) || !ReadExact(s, dos, 64) || zm::GetLE16(dos) != kMZ) ZM_RAISE(117);
  uint8_t nt[248];  // signature, file header, 32-bit optional header
  if (!SeekTo(s, zm::GetLE32(dos + 60)) || !ReadExact(s, nt, 248) || zm::GetLE32(nt) != kPESig) ZM_RAISE(117);
  const uint32_t resAddress = zm::GetLE32(nt + 136);
  const uint32_t resSize = zm::GetLE32(nt + 140);
  if (resAddress == 0 || resSize == 0) ZM_RAISE(147);
  const int sections = zm::GetLE16(nt + 6);
  bool found = false;
  for (int i = 0; i < sections && !found; ++i) {
    uint8_t sh[kSectionHeaderSize];
    if (!ReadExact(s, sh, kSectionHeaderSize)) ZM_RAISE(144);
    section = ParseSection(sh);
    found = section.VirtualAddress == resAddress;
  }
  if (!found) ZM_RAISE(147);
  TIconSearch search(s, section.PointerToRawData);
  if (!search.Walk(section.PointerToRawData, 0, entry)) ZM_RAISE(146);
  return true;
}

TIcon IconFromExe(TMemoryStream& ms) { return IconFromBytes(ms, ms.Memory(), ms.Bytes().size()); }

TIcon IconFromExe(TReadOnlyMemoryStream& ms) {
  const int64_t size = ms.Size();
  return IconFromBytes(ms, ms.Memory(), size > 0 ? size_t(size) : 0);
}

// ---------------------------------------------------------------- paths and names
//
// The component's 8-bit text is UTF-8 or in the ANSI code page. A double-byte ANSI
// code page (such as 932) has trail bytes equal to '\\' and '|': the delimiter tests
// and conversions below walk such text by character.

std::string SetTrailingDelimiter(const std::string& path, bool wanted) {
  const bool has = zm::EndsWithChar(path, plat::PathDelim, ModeCodePage());
  if (has == wanted) return path;
  if (wanted) return path + plat::PathDelim;
  return path.substr(0, path.size() - 1);
}

std::string BareFileName(const std::string& path) {
  size_t start = 0;
  for (size_t i = path.size(); i-- > 0;) {
    if (path[i] == plat::PathDelim || path[i] == ':') {
      start = i + 1;
      break;
    }
  }
  const size_t dot = path.rfind('.');
  const size_t end = dot != std::string::npos && dot >= start ? dot : path.size();
  return path.substr(start, end - start);
}

std::string JoinPath(const std::string& path, const std::string& tail) {
  std::string r = path;
  if (!path.empty() && path.back() != ':' && !tail.empty()) {
    const bool pathHas = path.back() == plat::PathDelim;
    const bool tailHas = tail.front() == plat::PathDelim;
    if (pathHas && tailHas)
      r.pop_back();
    else if (!pathHas && !tailHas)
      r += plat::PathDelim;
  }
  return r + tail;
}

std::string ConvertSlashes(const std::string& path, int direction) {
  return direction == 1 ? zm::ReplaceSeparators(path, '\\', '/', ModeCodePage())
                        : zm::ReplaceSeparators(path, '/', '\\', ModeCodePage());
}

std::string WithPlatformSeparators(std::string name) {
  return ConvertSlashes(name, plat::PathDelim == '/' ? 1 : 0);
}

std::u16string ConvertSlashesWide(const std::u16string& path, int direction) {
  std::u16string r = path;
  const char16_t from = direction == 1 ? u'\\' : u'/';
  const char16_t to = direction == 1 ? u'/' : u'\\';
  std::replace(r.begin(), r.end(), from, to);
  return r;
}

bool EndsWithDelimiter(std::string_view s) {
  return zm::EndsWithChar(s, '\\', ModeCodePage()) || zm::EndsWithChar(s, '/', ModeCodePage());
}

bool HasNoWildcards(const std::string& s) { return s.find_first_of("*?|") == std::string::npos; }

bool HasNonPlainChars(std::string_view s) { return zm::HasNonPlainBytes(s); }

int LastIndexOf(const std::string& s, char ch, int limit) {
  int p = std::min<int64_t>(int64_t(limit) - 1, int64_t(s.size()));
  for (; p >= 1; --p)
    if (s[size_t(p) - 1] == ch) return p;
  return 0;
}

bool IsInList(uint32_t value, const std::vector<uint32_t>& list, int highIndex) {
  const int last = std::min<int64_t>(highIndex, int64_t(list.size()) - 1);
  for (int i = 0; i <= last; ++i)
    if (list[size_t(i)] == value) return true;
  return false;
}

int AppendTwoBlocks(std::string& s, const void* block1, int len1, const void* block2, int len2) {
  if (len1 < 0 || len2 < 0 || (len1 > 0 && !block1) || (len2 > 0 && !block2)) return int(s.size());
  if (len1 > 0) s.append(static_cast<const char*>(block1), size_t(len1));
  if (len2 > 0) s.append(static_cast<const char*>(block2), size_t(len2));
  return int(s.size());
}
