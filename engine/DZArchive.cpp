#include "DZArchive.h"

#include <algorithm>
#include <cstring>

#include "PlatCodePage.h"
#include "ZMEndian.h"
#include "ZMStoredText.h"
#include "ZMTrailer.h"
#include "ZMRecords.h"

namespace dz {

namespace {

constexpr uint64_t kMaxCentral = uint64_t(1) << 31;  // memory bound for the directory

class TSourceBytes final : public zm::TArchiveBytes {
 public:
  explicit TSourceBytes(TDZSource& src) : FSrc(src) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
    return FSrc.ReadAt(offset, buffer, count);
  }

 private:
  TDZSource& FSrc;
};

// Reads the entries' local headers. Entries mostly follow each other in the file as in
// the directory, so when the next header lies close ahead, one read takes the bytes up
// to it and beyond and serves the headers of many small entries.
class THeaderWindow {
 public:
  static constexpr size_t kWindow = 64 * 1024;
  explicit THeaderWindow(TDZSource& src) : FSrc(src) {}

  // The n bytes at off; next is where the following entry's header starts.
  bool Read(uint64_t off, uint8_t* dst, size_t n, uint64_t next) {
    if (off >= FStart && off - FStart <= FLen && n <= FLen - (off - FStart)) {
      std::memcpy(dst, FBuf.get() + (off - FStart), n);
      return true;
    }
    if (next <= off || next - off > kWindow - n || off > FSrc.Size()) return FSrc.ReadAt(off, dst, n);
    if (!FBuf) FBuf = std::make_unique_for_overwrite<uint8_t[]>(kWindow);
    const size_t want = size_t(std::min<uint64_t>(kWindow, FSrc.Size() - off));
    FLen = 0;
    if (want < n || !FSrc.ReadAt(off, FBuf.get(), want)) return false;
    FStart = off;
    FLen = want;
    std::memcpy(dst, FBuf.get(), n);
    return true;
  }

 private:
  TDZSource& FSrc;
  std::unique_ptr<uint8_t[]> FBuf;
  uint64_t FStart = 0;
  size_t FLen = 0;  // bytes of the window from FStart
};

}  // namespace

std::string EntryName(std::string_view raw, std::string_view extra, uint16_t flags, uint16_t versionMadeBy,
                      int nameEncoding, unsigned codePage, unsigned oemCodePage) {
  zm::TStoredText t;
  t.Name = raw;
  t.Extra = extra;
  t.Flag = flags;
  t.VersionMadeBy = versionMadeBy;
  const int kind = nameEncoding >= 1 && nameEncoding <= 4 ? nameEncoding : zm::StoredKind(t);
  const zm::TDecodedText d = zm::DecodeStoredText(t, false, kind, codePage, oemCodePage);
  // Stored bytes that stay as they are follow the component's ANSI text.
  return zm::ReplaceSeparators(d.Text, '\\', '/', d.Converted ? plat::kCpUtf8 : plat::kCpAcp);
}

std::string_view TDZNameStore::Add(std::string_view s) {
  if (s.empty()) return {};
  if (FBlocks.empty() || FRoom - FUsed < s.size()) {
    // A name longer than a block gets a block of its own.
    const size_t step = FBlocks.empty() ? kFirstBlock : std::min(kBlock, 2 * FRoom);
    FRoom = std::max(step, s.size());
    FBlocks.push_back(std::make_unique_for_overwrite<char[]>(FRoom));
    FUsed = 0;
  }
  char* at = FBlocks.back().get() + FUsed;
  std::memcpy(at, s.data(), s.size());
  FUsed += s.size();
  return {at, s.size()};
}

void TDZNameStore::Clear() {
  FBlocks.clear();
  FUsed = FRoom = 0;
}

int TDZArchive::Load(TDZSource& src, int nameEncoding, unsigned codePage, unsigned oemCodePage,
                     std::string& warn) {
  FEntries.clear();
  FNames.Clear();
  const uint64_t size = src.Size();
  if (size < zm::kTrailerEndSize) return size == 0 ? deEmptyZip : deNoCentral;
  const size_t tail = size_t(std::min<uint64_t>(size, zm::kTrailerSearchSpan));
  std::vector<uint8_t> buf(tail);
  const uint64_t tailStart = size - tail;
  if (!src.ReadAt(tailStart, buf.data(), tail)) return deReadFile;
  const int64_t at = zm::FindEndRecord(buf.data(), tail, size);
  if (at < 0) return deNoCentral;
  const uint64_t endPos = tailStart + uint64_t(at);
  const zm::TEndRecord end = zm::ParseEndRecord(&buf[size_t(at)]);
  TSourceBytes bytes(src);
  uint64_t dirEnd = endPos;  // the directory ends where the (Zip64) end record begins
  zm::TZip64EndRecord rec;
  bool zip64 = false;
  if (end.HasZip64Marker() && endPos >= zm::kTrailerLocatorSize) {
    uint8_t loc[zm::kTrailerLocatorSize];
    zm::TZip64Locator locator;
    if (src.ReadAt(endPos - zm::kTrailerLocatorSize, loc, sizeof loc) &&
        zm::ParseZip64Locator(loc, locator)) {
      if (locator.Disks > 1) return deMultiPart;
      if (zm::FindZip64EndRecord(bytes, endPos, locator.RecordOffset, rec) != zm::TZip64Find::Found)
        return deBadZip;
      zip64 = true;
      dirEnd = rec.Position;
    }
  }
  const zm::TDirectoryFields f = zm::DirectoryFields(end, zip64 ? &rec : nullptr);
  if (f.ThisDisk != 0 || f.CentralDisk != 0) return deMultiPart;
  if (f.Entries == 0 && f.CentralSize == 0) return deEmptyZip;
  const zm::TCentralPlace place =
      zm::LocateCentral(bytes, dirEnd, f.CentralSize, f.CentralOffset, f.Entries == 0);
  if (place.At == zm::TCentralAt::Neither || place.Start < 0 || uint64_t(place.Start) > dirEnd)
    return deNoCentral;
  // Data in front of the archive (a self-extractor stub) move every offset.
  FAdjust = place.Prefix;
  if (FAdjust > 0) warn = "data in front of the archive";
  if (FAdjust < 0) warn = "bytes missing in front of the directory";
  FCenStart = uint64_t(place.Start);
  const uint64_t cdBytes = dirEnd - FCenStart;
  if (cdBytes > kMaxCentral || f.Entries > cdBytes / 46) return deBadZip;
  return ParseCentral(src, dirEnd, f.Entries, nameEncoding, codePage, oemCodePage, warn);
}

int TDZArchive::ParseCentral(TDZSource& src, uint64_t end, uint64_t count, int nameEncoding,
                             unsigned codePage, unsigned oemCodePage, std::string& warn) {
  using H = zm::layout::TCentralHeader;
  // The window holds the largest record (the fixed part and three fields of 65535 bytes)
  // and is refilled from the archive, so that the directory is never held whole.
  constexpr size_t kWindow = 256 * 1024;
  static_assert(kWindow >= H::FixedSize + 3 * 0xFFFF);
  const size_t size = size_t(std::min<uint64_t>(end - FCenStart, kWindow));
  std::vector<uint8_t> window(size);
  uint64_t winStart = FCenStart;  // archive offset of window[0]
  size_t winLen = 0;              // bytes held in the window
  uint64_t pos = FCenStart;       // archive offset of the next record
  // At least want bytes from pos in the window, or all that are left before end.
  auto have = [&](size_t want) -> bool {
    const uint64_t left = end - pos;
    const size_t need = size_t(std::min<uint64_t>(want, left));
    if (pos - winStart + need <= winLen) return true;
    winStart = pos;
    winLen = size_t(std::min<uint64_t>(left, size));
    return src.ReadAt(winStart, window.data(), winLen);
  };
  FEntries.reserve(size_t(count));
  for (uint64_t i = 0; i < count; ++i) {
    if (!have(H::FixedSize)) return deReadFile;
    const uint8_t* h = window.data() + (pos - winStart);
    const size_t inWindow = winLen - size_t(pos - winStart);
    zm::TLECursor c(h, inWindow);
    if (c.Left() < H::FixedSize || c.U32() != H::Signature) return i == 0 ? deNoCentral : deBadZip;
    const size_t fieldsLen = size_t(zm::GetLE16(h + 28)) + zm::GetLE16(h + 30) + zm::GetLE16(h + 32);
    if (inWindow < H::FixedSize + fieldsLen) {
      if (!have(H::FixedSize + fieldsLen)) return deReadFile;
      h = window.data() + (pos - winStart);
      c = zm::TLECursor(h, winLen - size_t(pos - winStart));
      c.Skip(4);
    }
    TDZEntry en;
    en.VersionMade = c.U16();
    c.Skip(2);  // version needed
    en.Flags = c.U16();
    en.Method = c.U16();
    const uint16_t dosTime = c.U16();
    en.DosDateTime = (uint32_t(c.U16()) << 16) | dosTime;
    en.Crc = c.U32();
    en.CompSize = c.U32();
    en.UncompSize = c.U32();
    const size_t nameLen = c.U16();
    const size_t extraLen = c.U16();
    const size_t commentLen = c.U16();
    en.DiskStart = c.U16();
    c.Skip(2);  // internal attributes
    en.ExtAttr = c.U32();
    en.LocalOffset = c.U32();
    if (c.Left() < nameLen + extraLen + commentLen) return deBadZip;
    const std::string_view rawName(reinterpret_cast<const char*>(h + H::FixedSize), nameLen);
    // Extra fields.
    const uint8_t* x = h + H::FixedSize + nameLen;
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
      }
      x += 4 + len;
      left -= 4 + len;
    }
    en.Name = FNames.Add(
        EntryName(rawName, std::string_view(reinterpret_cast<const char*>(h + 46 + nameLen), extraLen),
                  en.Flags, en.VersionMade, nameEncoding, codePage, oemCodePage));
    if (en.DiskStart != 0) return deMultiPart;
    if (en.LocalOffset > UINT64_MAX / 2) return deBadZip;
    en.LocalOffset += uint64_t(FAdjust);  // one before the file wraps far beyond it
    FEntries.push_back(std::move(en));
    pos += H::FixedSize + nameLen + extraLen + commentLen;
  }
  if (pos != end && warn.empty()) warn = "unexpected bytes after the central directory";
  return 0;
}

void TDZArchive::CheckRanges(TDZSource& src) {
  // Local headers first: where does each entry's data start and end?
  std::vector<size_t> order(FEntries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  THeaderWindow headers(src);
  for (size_t k = 0; k < FEntries.size(); ++k) {
    TDZEntry& en = FEntries[k];
    using L = zm::layout::TLocalHeader;
    uint8_t lh[L::FixedSize];
    const uint64_t next = k + 1 < FEntries.size() ? FEntries[k + 1].LocalOffset : 0;
    if (en.LocalOffset > FCenStart || FCenStart - en.LocalOffset < L::FixedSize ||
        !headers.Read(en.LocalOffset, lh, L::FixedSize, next)) {
      en.RangeError = deUnexpectedEnd;
      continue;
    }
    if (zm::GetLE32(lh) != zm::layout::TLocalHeader::Signature) {
      en.RangeError = deBadZip;
      continue;
    }
    const uint64_t start =
        en.LocalOffset + L::FixedSize + zm::GetLE16(lh + L::NameLen) + zm::GetLE16(lh + L::ExtraLen);
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
