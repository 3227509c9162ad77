#include "ZMTrailer.h"

#include "ZMEndian.h"

namespace zm {

namespace {

// Calls fn with the six directory values of the records, field by field: both end
// records and the values taken from them hold the same six, in the same order, each
// in its own width.
template <class Fn, class... TRecord>
void EachDirectoryValue(Fn fn, TRecord&... r) {
  fn(r.ThisDisk...);
  fn(r.CentralDisk...);
  fn(r.EntriesHere...);
  fn(r.Entries...);
  fn(r.CentralSize...);
  fn(r.CentralOffset...);
}

// Whether an end record's value is the Zip64 marker: all bits of its width set.
template <class T>
bool IsMarker(T v) {
  return v == T(~T(0));
}

// Reads a field as wide as its type.
template <class T>
void ReadField(TLECursor& c, T& v) {
  if constexpr (sizeof(T) == 2)
    v = c.U16();
  else if constexpr (sizeof(T) == 4)
    v = c.U32();
  else
    v = c.U64();
}

bool SignatureAt(TArchiveBytes& src, uint64_t pos, uint32_t sig, bool* readable = nullptr) {
  uint8_t b[4];
  const bool ok = src.ReadAt(pos, b, 4);
  if (readable) *readable = ok;
  return ok && GetLE32(b) == sig;
}

bool ReadZip64At(TArchiveBytes& src, uint64_t pos, TZip64EndRecord& rec, bool& readable) {
  uint8_t b[kTrailerZip64Size];
  readable = src.ReadAt(pos, b, sizeof b);
  TLECursor c(b, sizeof b);
  if (!readable || c.U32() != layout::TZip64EndOfCentral::Signature) return false;
  rec.Position = pos;
  rec.RestSize = c.U64();
  rec.MadeBy = c.U16();
  rec.Needed = c.U16();
  EachDirectoryValue([&c](auto& v) { ReadField(c, v); }, rec);
  return c.Ok();
}

}  // namespace

bool TEndRecord::HasZip64Marker() const {
  bool marked = false;
  EachDirectoryValue([&marked](auto v) { marked = marked || IsMarker(v); }, *this);
  return marked;
}

TEndRecord ParseEndRecord(const uint8_t* rec) {
  TEndRecord e;
  TLECursor c(rec, layout::TEndOfCentral::FixedSize);
  c.Seek(layout::TEndOfCentral::ThisDisk);
  EachDirectoryValue([&c](auto& v) { ReadField(c, v); }, e);
  e.CommentLength = c.U16();
  return e;
}

bool EndRecordPlausible(const uint8_t* rec, uint64_t pos, uint64_t fileSize) {
  if (pos > fileSize || fileSize - pos < kTrailerEndSize) return false;
  const TEndRecord e = ParseEndRecord(rec);
  const bool sizeFits = IsMarker(e.CentralSize) || e.CentralSize <= pos;
  const bool offsetFits = IsMarker(e.CentralOffset) || e.CentralOffset <= pos;
  return sizeFits || offsetFits;
}

int64_t FindEndRecord(const uint8_t* tail, size_t n, uint64_t fileSize) {
  if (n < kTrailerEndSize || n > fileSize) return -1;
  const uint64_t tailStart = fileSize - n;
  for (size_t i = n - kTrailerEndSize + 1; i-- > 0;)
    if (GetLE32(tail + i) == layout::TEndOfCentral::Signature &&
        EndRecordPlausible(tail + i, tailStart + i, fileSize))
      return int64_t(i);
  return -1;
}

bool ParseZip64Locator(const uint8_t* p, TZip64Locator& loc) {
  TLECursor c(p, layout::TZip64Locator::FixedSize);
  if (c.U32() != layout::TZip64Locator::Signature) return false;
  loc.RecordDisk = c.U32();
  loc.RecordOffset = c.U64();
  loc.Disks = c.U32();
  return true;
}

TZip64Find FindZip64EndRecord(TArchiveBytes& src, uint64_t endPos, uint64_t offset, TZip64EndRecord& rec) {
  bool readable = false;
  if (ReadZip64At(src, offset, rec, readable)) return TZip64Find::Found;
  // Data in front of the archive move the record by their length: it then stands
  // directly in front of the locator, later in the file than stated.
  const uint64_t front = kTrailerLocatorSize + kTrailerZip64Size;
  bool unused = false;
  if (endPos >= front && endPos - front > offset && ReadZip64At(src, endPos - front, rec, unused))
    return TZip64Find::Found;
  return readable ? TZip64Find::NotThere : TZip64Find::Unreadable;
}

TDirectoryFields DirectoryFields(const TEndRecord& end, const TZip64EndRecord* rec) {
  TDirectoryFields f;
  EachDirectoryValue([](auto& field, auto value) { field = value; }, f, end);
  if (!rec) return f;
  EachDirectoryValue(
      [&f](auto& field, auto value, auto zip64Value) {
        if (!IsMarker(value)) return;
        field = zip64Value;
        f.FromZip64 = true;
      },
      f, end, *rec);
  return f;
}

TCentralPlace LocateCentral(TArchiveBytes& src, uint64_t dirEnd, uint64_t size, uint64_t offset, bool empty) {
  TCentralPlace p;
  const bool fits = size <= dirEnd;
  const uint64_t computed = fits ? dirEnd - size : 0;
  if (fits && (empty || SignatureAt(src, computed, layout::TCentralHeader::Signature))) {
    p.At = TCentralAt::Computed;
    p.Start = int64_t(computed);
    p.Prefix = int64_t(computed - offset);  // wraps to a negative count of missing bytes
    return p;
  }
  if (!empty && (!fits || offset != computed)) {
    bool readable = false;
    if (SignatureAt(src, offset, layout::TCentralHeader::Signature, &readable)) {
      p.At = TCentralAt::Stated;
      p.Start = int64_t(offset);
      return p;
    }
    p.StatedUnreadable = !readable;
  }
  p.Start = fits ? int64_t(computed) : -1;
  return p;
}

}  // namespace zm
