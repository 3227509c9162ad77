// The fixed parts of an archive's records, named once for the component and the
// engine: each record's signature, fixed size and the offsets of its fields. The offsets
// follow from the widths of the fields in front of them, so the static_asserts below
// check that the fields add up to the record's size. TLECursor reads a record's fields
// in order from a buffer and fails when the buffer is short.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ZMEndian.h"

namespace zm {

namespace layout {

// The central directory's header of one entry.
struct TCentralHeader {
  static constexpr uint32_t Signature = 0x02014B50;
  static constexpr size_t Sig = 0, MadeBy = Sig + 4, Needed = MadeBy + 2, Flags = Needed + 2,
                          Method = Flags + 2, Time = Method + 2, Date = Time + 2, Crc = Date + 2,
                          CompSize = Crc + 4, UncompSize = CompSize + 4, NameLen = UncompSize + 4,
                          ExtraLen = NameLen + 2, CommentLen = ExtraLen + 2, DiskStart = CommentLen + 2,
                          IntAttr = DiskStart + 2, ExtAttr = IntAttr + 2, LocalOffset = ExtAttr + 4;
  static constexpr size_t FixedSize = LocalOffset + 4;
};
static_assert(TCentralHeader::FixedSize == 46 && TCentralHeader::NameLen == 28 &&
              TCentralHeader::LocalOffset == 42);

// The local header in front of an entry's data.
struct TLocalHeader {
  static constexpr uint32_t Signature = 0x04034B50;
  static constexpr size_t Sig = 0, Needed = Sig + 4, Flags = Needed + 2, Method = Flags + 2,
                          Time = Method + 2, Date = Time + 2, Crc = Date + 2, CompSize = Crc + 4,
                          UncompSize = CompSize + 4, NameLen = UncompSize + 4, ExtraLen = NameLen + 2;
  static constexpr size_t FixedSize = ExtraLen + 2;
};
static_assert(TLocalHeader::FixedSize == 30 && TLocalHeader::NameLen == 26);

// The end record of the central directory; its comment follows.
struct TEndOfCentral {
  static constexpr uint32_t Signature = 0x06054B50;
  static constexpr size_t Sig = 0, ThisDisk = Sig + 4, CentralDisk = ThisDisk + 2,
                          EntriesHere = CentralDisk + 2, Entries = EntriesHere + 2, CentralSize = Entries + 2,
                          CentralOffset = CentralSize + 4, CommentLen = CentralOffset + 4;
  static constexpr size_t FixedSize = CommentLen + 2;
};
static_assert(TEndOfCentral::FixedSize == 22 && TEndOfCentral::CommentLen == 20);

// The Zip64 end record (its fixed part; an extensible data sector may follow).
struct TZip64EndOfCentral {
  static constexpr uint32_t Signature = 0x06064B50;
  static constexpr size_t Sig = 0, RestSize = Sig + 4, MadeBy = RestSize + 8, Needed = MadeBy + 2,
                          ThisDisk = Needed + 2, CentralDisk = ThisDisk + 4, EntriesHere = CentralDisk + 4,
                          Entries = EntriesHere + 8, CentralSize = Entries + 8,
                          CentralOffset = CentralSize + 8;
  static constexpr size_t FixedSize = CentralOffset + 8;
};
static_assert(TZip64EndOfCentral::FixedSize == 56 && TZip64EndOfCentral::CentralOffset == 48);

// The locator of the Zip64 end record, directly in front of the end record.
struct TZip64Locator {
  static constexpr uint32_t Signature = 0x07064B50;
  static constexpr size_t Sig = 0, RecordDisk = Sig + 4, RecordOffset = RecordDisk + 4,
                          Disks = RecordOffset + 8;
  static constexpr size_t FixedSize = Disks + 4;
};
static_assert(TZip64Locator::FixedSize == 20);

}  // namespace layout

// The data descriptor's optional signature; the same four bytes open a split archive.
inline constexpr uint32_t kDataDescriptorSig = 0x08074B50;

// Reads little-endian fields in order from a buffer. A read that would pass the end
// yields 0 and leaves the cursor failed; Ok() tells whether every read so far fitted.
class TLECursor {
 public:
  TLECursor(const void* data, size_t size) : FData(static_cast<const uint8_t*>(data)), FSize(size) {}

  bool Ok() const { return FOk; }
  size_t Pos() const { return FPos; }
  size_t Left() const { return FPos <= FSize ? FSize - FPos : 0; }
  // Moves to pos of the buffer (failing past its end).
  TLECursor& Seek(size_t pos) {
    if (pos > FSize) FOk = false;
    FPos = pos;
    return *this;
  }
  TLECursor& Skip(size_t n) { return Seek(FPos + n); }
  uint16_t U16() { return Take<uint16_t>(2); }
  uint32_t U32() { return Take<uint32_t>(4); }
  uint64_t U64() { return Take<uint64_t>(8); }
  // The field of the given width at pos, without moving.
  uint16_t U16At(size_t pos) const { return Fits(pos, 2) ? GetLE16(FData + pos) : 0; }
  uint32_t U32At(size_t pos) const { return Fits(pos, 4) ? GetLE32(FData + pos) : 0; }
  uint64_t U64At(size_t pos) const { return Fits(pos, 8) ? GetLE64(FData + pos) : 0; }

 private:
  bool Fits(size_t pos, size_t n) const { return pos <= FSize && FSize - pos >= n; }
  template <class T>
  T Take(size_t n) {
    if (!FOk || !Fits(FPos, n)) {
      FOk = false;
      return 0;
    }
    T v = 0;
    for (size_t i = 0; i < n; ++i) v |= T(T(FData[FPos + i]) << (8 * i));
    FPos += n;
    return v;
  }

  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
  bool FOk = true;
};

}  // namespace zm
