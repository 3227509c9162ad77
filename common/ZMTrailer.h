// Where an archive's directory is: which end record counts, where its Zip64 locator and
// end record are, which values they give, where the central directory really starts
// and how many bytes lie in front of the archive. The component and the engine both
// ask this unit, so that listing, testing and extracting see the same entries. The
// callers do their own reading and turn the answers into their own errors.
//
// The rules:
// - End record: the file is scanned from its end; the first signature whose 22-byte
//   record lies wholly in the file and whose stated directory could lie in front of it
//   (its size or its offset fits before the record; a field holding a Zip64 marker
//   counts as fitting) is taken. Of two such records the later one in the file wins,
//   as other readers take the last signature; a signature inside a comment that
//   describes no directory is passed over.
// - Zip64: looked for only when the end record holds a marker. The locator stands
//   directly in front of the end record. Its record is taken at the offset it states;
//   when no record stands there, directly in front of the locator, provided that place
//   lies further on (the difference is data in front of the archive, such as a
//   self-extractor stub).
// - Values: the Zip64 record replaces exactly the end record's fields that hold the
//   marker (0xFFFF, 0xFFFFFFFF); the others stay as the end record says.
// - Directory start: the directory ends where the Zip64 end record (else the end
//   record) begins. The start computed from its size is taken when a central header
//   stands there, or when the directory is empty; otherwise the stated offset when a
//   central header stands there. Bytes in front of the archive: the computed start
//   minus the stated offset when the computed start is taken, else 0.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ZMRecords.h"

namespace zm {

inline constexpr size_t kTrailerEndSize = layout::TEndOfCentral::FixedSize;
inline constexpr size_t kTrailerLocatorSize = layout::TZip64Locator::FixedSize;
inline constexpr size_t kTrailerZip64Size = layout::TZip64EndOfCentral::FixedSize;
// The end record and the longest comment: the part of a file searched for the record.
inline constexpr size_t kTrailerSearchSpan = 65535 + kTrailerEndSize;

// Reads the archive's bytes: true only when all count bytes at offset arrived.
class TArchiveBytes {
 public:
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) = 0;

 protected:
  ~TArchiveBytes() = default;
};

struct TEndRecord {
  uint16_t ThisDisk = 0, CentralDisk = 0, EntriesHere = 0, Entries = 0;
  uint32_t CentralSize = 0, CentralOffset = 0;
  uint16_t CommentLength = 0;
  bool HasZip64Marker() const;
};
// The fields of the 22 bytes at rec (signature not checked).
TEndRecord ParseEndRecord(const uint8_t* rec);

// Whether the 22 bytes at rec, found at pos of a file of fileSize bytes, can be the
// archive's end record (see the rules above).
bool EndRecordPlausible(const uint8_t* rec, uint64_t pos, uint64_t fileSize);

// The end record in the last n bytes of a file of fileSize bytes (tail holds them):
// its index in tail, or -1.
int64_t FindEndRecord(const uint8_t* tail, size_t n, uint64_t fileSize);

struct TZip64Locator {
  uint32_t RecordDisk = 0;
  uint64_t RecordOffset = 0;  // as stated
  uint32_t Disks = 0;
};
// The fields of the 20 bytes at p; false when they are no locator.
bool ParseZip64Locator(const uint8_t* p, TZip64Locator& loc);

struct TZip64EndRecord {
  uint64_t Position = 0;  // where it was found
  uint64_t RestSize = 0;
  uint16_t MadeBy = 0, Needed = 0;
  uint32_t ThisDisk = 0, CentralDisk = 0;
  uint64_t EntriesHere = 0, Entries = 0, CentralSize = 0, CentralOffset = 0;
};

enum class TZip64Find {
  Found,       // rec is filled
  NotThere,    // no record at the stated offset nor in front of the locator
  Unreadable,  // the stated offset could not be read (and nothing was found)
};
// The Zip64 end record of the end record at endPos whose locator states offset.
TZip64Find FindZip64EndRecord(TArchiveBytes& src, uint64_t endPos, uint64_t offset, TZip64EndRecord& rec);

// The directory's values: the end record's, with those holding the marker replaced
// from the Zip64 record when there is one.
struct TDirectoryFields {
  uint32_t ThisDisk = 0, CentralDisk = 0;
  uint64_t EntriesHere = 0, Entries = 0, CentralSize = 0, CentralOffset = 0;
  bool FromZip64 = false;  // at least one value came from the Zip64 record
};
TDirectoryFields DirectoryFields(const TEndRecord& end, const TZip64EndRecord* rec);

enum class TCentralAt { Computed, Stated, Neither };
struct TCentralPlace {
  TCentralAt At = TCentralAt::Neither;
  int64_t Start = -1;             // the computed start (or -1) when At is Neither
  int64_t Prefix = 0;             // bytes in front of the archive (negative: missing bytes)
  bool StatedUnreadable = false;  // the stated offset was tried and could not be read
};
// Where the directory of size bytes stated at offset starts when it ends at dirEnd.
TCentralPlace LocateCentral(TArchiveBytes& src, uint64_t dirEnd, uint64_t size, uint64_t offset, bool empty);

}  // namespace zm
