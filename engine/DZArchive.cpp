#include "DZArchive.h"

#include <algorithm>
#include <cstring>

#include "PlatCodePage.h"
#include "ZMCrc32.h"
#include "ZMEndian.h"
#include "ZMUTF8.h"

namespace dz {

namespace {

constexpr uint32_t kSigLocal = 0x04034b50;
constexpr uint32_t kSigCentral = 0x02014b50;
constexpr uint32_t kSigEnd = 0x06054b50;
constexpr uint32_t kSigEnd64 = 0x06064b50;
constexpr uint32_t kSigLoc64 = 0x07064b50;
constexpr size_t kEndSize = 22;
constexpr size_t kMaxComment = 0xFFFF;
constexpr uint64_t kMaxCentral = uint64_t(1) << 31;  // memory bound for the directory

uint32_t Crc32Of(const std::string& s) {
  return ~zm::Crc32UpdateFast(0xFFFFFFFFu, s.data(), s.size());
}

bool ValidUtf8(const std::string& s) { return CountUtf8Sequences(s) >= 0; }

}  // namespace

std::string DecodeEntryName(const std::string& raw, uint16_t flags, unsigned host,
                            const std::string& unicodePath, int nameEncoding,
                            unsigned codePage) {
  std::string name;
  const bool dosHost = host == 0 || host == 6 || host == 11 || host == 14;
  // Without one given, the OEM code page of the user's language, as the component lists.
  const unsigned cp = codePage ? codePage : plat::OemCodePage();
  switch (nameEncoding) {
    case 2:  // OEM
      name = Utf8FromWideString(WideFromCodePage(raw, cp));
      break;
    case 3:  // UTF-8
      name = ValidUtf8(raw) ? raw : Utf8FromWideString(WideFromCodePage(raw, cp));
      break;
    case 1:  // the given code page, else as stored
      name = codePage ? Utf8FromWideString(WideFromCodePage(raw, codePage)) : raw;
      break;
    default:  // automatic, or the Unicode path field when present
      if (!unicodePath.empty())
        name = unicodePath;
      else if ((flags & 0x800) && ValidUtf8(raw))
        name = raw;
      else if (!dosHost && ValidUtf8(raw))
        name = raw;
      else
        name = Utf8FromWideString(WideFromCodePage(raw, cp));
      break;
  }
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

int TDZArchive::Load(TDZSource& src, int nameEncoding, unsigned codePage, std::string& warn) {
  FEntries.clear();
  const uint64_t size = src.Size();
  if (size < kEndSize) return size == 0 ? deEmptyZip : deNoCentral;
  // Find the end record: the last signature whose comment fits the file.
  const size_t tail = size_t(std::min<uint64_t>(size, kEndSize + kMaxComment));
  std::vector<uint8_t> buf(tail);
  const uint64_t tailStart = size - tail;
  if (!src.ReadAt(tailStart, buf.data(), tail)) return deReadFile;
  int64_t endPos = -1;
  for (size_t i = tail - kEndSize + 1; i-- > 0;) {
    if (zm::GetLE32(&buf[i]) != kSigEnd) continue;
    const size_t commentLen = zm::GetLE16(&buf[i + 20]);
    if (i + kEndSize + commentLen <= tail) {
      endPos = int64_t(tailStart + i);
      break;
    }
  }
  if (endPos < 0) return deNoCentral;
  const uint8_t* e = &buf[size_t(uint64_t(endPos) - tailStart)];
  uint32_t diskNo = zm::GetLE16(e + 4);
  uint32_t cdDisk = zm::GetLE16(e + 6);
  uint64_t count = zm::GetLE16(e + 10);
  uint64_t cdSize = zm::GetLE32(e + 12);
  uint64_t cdOffset = zm::GetLE32(e + 16);
  uint64_t endOfCentral = uint64_t(endPos);  // the central directory ends here

  // Zip64 trailer through its locator just before the end record.
  if (uint64_t(endPos) >= 20) {
    uint8_t loc[20];
    if (src.ReadAt(uint64_t(endPos) - 20, loc, 20) && zm::GetLE32(loc) == kSigLoc64) {
      const uint32_t totalDisks = zm::GetLE32(loc + 16);
      uint64_t e64Pos = zm::GetLE64(loc + 8);
      uint8_t e64[56];
      // The record sits right before the locator; use that place when the stored
      // offset is off by data in front of the archive.
      bool found = e64Pos < size && src.ReadAt(e64Pos, e64, 56) && zm::GetLE32(e64) == kSigEnd64;
      if (!found && uint64_t(endPos) >= 76) {
        e64Pos = uint64_t(endPos) - 76;
        found = src.ReadAt(e64Pos, e64, 56) && zm::GetLE32(e64) == kSigEnd64;
      }
      if (!found) return deBadZip;
      if (totalDisks > 1) return deMultiPart;
      diskNo = zm::GetLE32(e64 + 16);
      cdDisk = zm::GetLE32(e64 + 20);
      count = zm::GetLE64(e64 + 32);
      cdSize = zm::GetLE64(e64 + 40);
      cdOffset = zm::GetLE64(e64 + 48);
      endOfCentral = e64Pos;
    }
  }
  if (diskNo != 0 || cdDisk != 0) return deMultiPart;
  if (cdSize > endOfCentral) return deNoCentral;
  if (count == 0 && cdSize == 0) return deEmptyZip;
  // Where the directory really is; a difference to the stored offset is data in
  // front of the archive (a self-extractor stub), which moves every offset.
  const uint64_t cdStart = endOfCentral - cdSize;
  if (cdOffset > cdStart) return deNoCentral;
  FAdjust = int64_t(cdStart - cdOffset);
  if (FAdjust) warn = "data in front of the archive";
  FCenStart = cdStart;
  if (cdSize > kMaxCentral || count > cdSize / 46) return deBadZip;
  std::vector<uint8_t> cd(static_cast<size_t>(cdSize));
  if (!src.ReadAt(cdStart, cd.data(), cd.size())) return deReadFile;
  return ParseCentral(cd, count, nameEncoding, codePage, warn);
}

int TDZArchive::ParseCentral(const std::vector<uint8_t>& cd, uint64_t count, int nameEncoding,
                             unsigned codePage, std::string& warn) {
  size_t p = 0;
  FEntries.reserve(size_t(count));
  for (uint64_t i = 0; i < count; ++i) {
    if (p + 46 > cd.size() || zm::GetLE32(&cd[p]) != kSigCentral)
      return i == 0 ? deNoCentral : deBadZip;
    const uint8_t* h = &cd[p];
    TDZEntry en;
    en.VersionMade = zm::GetLE16(h + 4);
    en.Flags = zm::GetLE16(h + 8);
    en.Method = zm::GetLE16(h + 10);
    en.DosDateTime = (uint32_t(zm::GetLE16(h + 14)) << 16) | zm::GetLE16(h + 12);
    en.Crc = zm::GetLE32(h + 16);
    en.CompSize = zm::GetLE32(h + 20);
    en.UncompSize = zm::GetLE32(h + 24);
    const size_t nameLen = zm::GetLE16(h + 28);
    const size_t extraLen = zm::GetLE16(h + 30);
    const size_t commentLen = zm::GetLE16(h + 32);
    en.DiskStart = zm::GetLE16(h + 34);
    en.ExtAttr = zm::GetLE32(h + 38);
    en.LocalOffset = zm::GetLE32(h + 42);
    if (p + 46 + nameLen + extraLen + commentLen > cd.size()) return deBadZip;
    en.RawName.assign(reinterpret_cast<const char*>(h + 46), nameLen);
    std::string unicodePath;
    // Extra fields.
    const uint8_t* x = h + 46 + nameLen;
    size_t left = extraLen;
    while (left >= 4) {
      const uint16_t tag = zm::GetLE16(x);
      const size_t len = zm::GetLE16(x + 2);
      if (len > left - 4) break;
      const uint8_t* d = x + 4;
      if (tag == 0x0001) {  // Zip64 sizes and offset, only for fields that overflowed
        size_t q = 0;
        auto take64 = [&](uint64_t& v) {
          if (q + 8 > len) return false;
          v = zm::GetLE64(d + q);
          q += 8;
          return true;
        };
        bool ok = true;
        if (en.UncompSize == 0xFFFFFFFFu) ok = ok && take64(en.UncompSize);
        if (en.CompSize == 0xFFFFFFFFu) ok = ok && take64(en.CompSize);
        if (en.LocalOffset == 0xFFFFFFFFu) ok = ok && take64(en.LocalOffset);
        if (en.DiskStart == 0xFFFFu && q + 4 <= len) en.DiskStart = zm::GetLE32(d + q);
        if (!ok) return deBadZip;
      } else if (tag == 0x5455 && len >= 5 && (d[0] & 1)) {  // extended timestamp
        const int32_t mtime = int32_t(zm::GetLE32(d + 1));
        en.FileTime = plat::FileTimeFromUnix(mtime, 0);
        en.HasFileTime = true;
      } else if (tag == 0x000A && len >= 32) {  // NTFS times
        size_t q = 4;
        while (q + 4 <= len) {
          const uint16_t t = zm::GetLE16(d + q);
          const size_t sz = zm::GetLE16(d + q + 2);
          if (q + 4 + sz > len) break;
          if (t == 1 && sz >= 24) {
            const uint64_t ft = zm::GetLE64(d + q + 4);
            if (ft) {
              en.FileTime = ft;
              en.HasFileTime = true;
            }
          }
          q += 4 + sz;
        }
      } else if (tag == kAesFieldTag) {
        ParseAesField(d, len, en.Aes);
      } else if (tag == 0x7075 && len >= 5 && d[0] == 1) {  // Unicode path
        if (zm::GetLE32(d + 1) == Crc32Of(en.RawName)) {
          std::string u(reinterpret_cast<const char*>(d + 5), len - 5);
          if (ValidUtf8(u)) unicodePath = u;
        }
      }
      x += 4 + len;
      left -= 4 + len;
    }
    en.Name = DecodeEntryName(en.RawName, en.Flags, en.Host(), unicodePath, nameEncoding,
                              codePage);
    if (en.DiskStart != 0) return deMultiPart;
    if (en.LocalOffset > UINT64_MAX / 2) return deBadZip;
    en.LocalOffset += uint64_t(FAdjust);
    FEntries.push_back(std::move(en));
    p += 46 + nameLen + extraLen + commentLen;
  }
  if (p != cd.size() && warn.empty()) warn = "unexpected bytes after the central directory";
  return 0;
}

void TDZArchive::CheckRanges(TDZSource& src) {
  // Local headers first: where does each entry's data start and end?
  std::vector<size_t> order(FEntries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  for (TDZEntry& en : FEntries) {
    uint8_t lh[30];
    if (en.LocalOffset > FCenStart || FCenStart - en.LocalOffset < 30 ||
        !src.ReadAt(en.LocalOffset, lh, 30)) {
      en.RangeError = deUnexpectedEnd;
      continue;
    }
    if (zm::GetLE32(lh) != kSigLocal) {
      en.RangeError = deBadZip;
      continue;
    }
    const uint64_t start = en.LocalOffset + 30 + zm::GetLE16(lh + 26) + zm::GetLE16(lh + 28);
    en.DataOffset = start;
    if (start > FCenStart || en.CompSize > FCenStart - start) en.RangeError = deUnexpectedEnd;
  }
  // Then the ranges in file order: an entry that starts inside the data of an earlier
  // one shares bytes with it and is refused (this is how overlapping "zip bombs"
  // multiply their output).
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return FEntries[a].LocalOffset < FEntries[b].LocalOffset ||
           (FEntries[a].LocalOffset == FEntries[b].LocalOffset && a < b);
  });
  uint64_t end = 0;
  bool any = false;
  for (size_t i : order) {
    TDZEntry& en = FEntries[i];
    if (en.RangeError) continue;
    if (any && en.LocalOffset < end) {
      en.RangeError = deBadZip;
      continue;
    }
    end = en.DataOffset + en.CompSize;
    any = true;
  }
}

}  // namespace dz
