#include "ZMCentral.h"

#include <algorithm>
#include <cstring>

#include "ZMEndian.h"
#include "ZMMatch.h"
#include "ZMUtils.h"
#include "ZMXcpt.h"
#include "ZMRecords.h"
#include "ZMMsg.h"

namespace {

constexpr int kFixedCentral = 46;
// Directory bytes read at once; the buffer grows for a larger record.
constexpr size_t kLoadBlock = 64 * 1024;
// The largest central record: fixed part and three fields of up to 65535 bytes.
constexpr size_t kMaxRecord = 46 + 3 * 0xFFFF;

}  // namespace

TZMCentral::TZMCentral(TCustomZipMate& master, TZMWorkBin* owner) : TZMEOC(master, owner) {}

TZMCentral::~TZMCentral() = default;

void TZMCentral::Notify(int value, int kind) {
  if (FOnChange) FOnChange(this, value, kind);
}

void TZMCentral::ClearEntries() {
  FEntries.clear();
  FEntries.shrink_to_fit();
  FRecordBlock.reset();
  FCount = 0;
  FSelCount = 0;
  FCapacity = 0;
}

TZMZRec* TZMCentral::NewRecFrom(const TZMZRec& rec) {
  auto r = std::make_unique<TZMZRec>(this);
  r->AssignFrom(rec);
  return r.release();
}

void TZMCentral::SetCapacity(int n) {
  if (n < 0) n = 0;
  const int slots = (n | 15) + 1;
  if (slots > FCapacity) {
    FEntries.resize(size_t(slots));
    FCapacity = slots;
  }
}

int TZMCentral::Add(TZMZRec* rec) {
  std::unique_ptr<TZMZRec> owned(rec);
  // Growth in steps of at least 64 slots, larger for large directories.
  if (FCount >= FCapacity) SetCapacity(FCount + std::max(64, FCount / 2));
  if (owned->StatusBits() & zsbSelected) ++FSelCount;
  FEntries[size_t(FCount)] = std::move(owned);
  return FCount++;
}

void TZMCentral::ClearCachedNames() {
  for (int i = 0; i < FCount; ++i)
    if (FEntries[size_t(i)]) FEntries[size_t(i)]->ClearCache();
}

TZMZRec* TZMCentral::FindName(const std::string& given, int& index, bool hasWildcards) {
  const int start = index < 0 ? 0 : index + 1;
  // Records hold their names with the platform's separator; a pattern may use either.
  const std::string pattern = WithPlatformSeparators(given);
  uint32_t hash = 0;
  if (!hasWildcards) hash = NameHashUpper(pattern);
  for (int i = start; i < FCount; ++i) {
    TZMZRec* rec = FEntries[size_t(i)].get();
    if (!rec || (rec->StatusBits() & zsbIgnore)) continue;
    if (!hasWildcards && rec->Hash() != hash) continue;
    if (FileNameMatch(pattern, std::string(rec->NameRef()))) {
      index = i;
      return rec;
    }
  }
  index = kNotFoundIndex;
  return nullptr;
}

int TZMCentral::CheckDuplicate(TZMZRec* rec) {
  if (!rec) return -1;
  const uint32_t prev = rec->SetStatusBit(zsbIgnore);
  const std::string name = rec->FileName();
  int index = -1;
  TZMZRec* hit = TZMCentral::FindName(name, index, false);
  while (hit && (hit->StatusBits() & zsbError)) hit = TZMCentral::FindName(name, index, false);
  if (!prev) rec->ClearStatusBit(zsbIgnore);
  if (!hit) return -1;
  TraceLine("Duplicate FileName: " + name);
  return index;
}

int TZMCentral::Truncate(int n) {
  if (n < 0) n = 0;
  int removed = 0;
  while (FCount > n) {
    --FCount;
    std::unique_ptr<TZMZRec>& slot = FEntries[size_t(FCount)];
    if (slot && (slot->StatusBits() & zsbSelected)) --FSelCount;
    slot.reset();
    ++removed;
  }
  return removed;
}

void TZMCentral::EntryRenamed(TZMZRec*) {}

TZMZRec* TZMCentral::Items(int i) const {
  if (i < 0 || i >= FCount) CheckIndex(i, FCount);
  if (i < 0 || i >= FCount)
    throw EZipMate::CreateMsg(ZM_CODE(zmmZMCentral, zmsIndexOutsideRange), {i, FCount - 1});
  return FEntries[size_t(i)].get();
}

void TZMCentral::SetItem(int i, TZMZRec* rec) {
  std::unique_ptr<TZMZRec> owned(rec);
  if (i < 0 || i >= FCount) CheckIndex(i, FCount);
  if (i < 0 || i >= FCount)
    throw EZipMate::CreateMsg(ZM_CODE(zmmZMCentral, zmsIndexOutsideRange), {i, FCount - 1});
  std::unique_ptr<TZMZRec>& slot = FEntries[size_t(i)];
  if (slot.get() == rec) {
    owned.release();
    return;
  }
  if (slot && (slot->StatusBits() & zsbSelected)) --FSelCount;
  if (owned && (owned->StatusBits() & zsbSelected)) ++FSelCount;
  slot = std::move(owned);
}

TZMZRec* TZMCentral::EntryAt(int32_t generation, int i) const {
  if (generation != FGeneration || i < 0 || i >= FCount) return nullptr;
  return FEntries[size_t(i)].get();
}

void TZMCentral::SelectEntryDisk(int disk) {
  // A set opened by its last part reads that part until another one is wanted.
  if ((FIsMultiDisk || FTotalDisks > 1) && disk != FDiskNr) SelectDisk(disk);
}

void TZMCentral::AssignFrom(const TZMWorkFile& other) {
  TZMEOC::AssignFrom(other);
  const auto* src = dynamic_cast<const TZMCentral*>(&other);
  if (!src || src == this) return;
  FCentralDisk = src->FCentralDisk;
  FCentralEntries = src->FCentralEntries;
  FCentralOffset = src->FCentralOffset;
  FCentralSize = src->FCentralSize;
  FEOCOffset = src->FEOCOffset;
  FMultiPart = src->FMultiPart;
  FArchiveStart = src->FArchiveStart;
  FTotalEntries = src->FTotalEntries;
  FZ64 = src->FZ64;
  FZipComment = src->FZipComment;
  FFileKind = src->FFileKind;
  FCentralPos = src->FCentralPos;
  ClearEntries();
  FGeneration = NextSerial();
  FOnChange = src->FOnChange;
  SetCapacity(src->FCount);
  for (int i = 0; i < src->FCount; ++i) {
    const TZMZRec* rec = src->FEntries[size_t(i)].get();
    if (!rec || (rec->StatusBits() & (zsbDiscard | zsbError))) continue;
    Add(NewRecFrom(*rec));
  }
}

void TZMCentral::AddLoaded(TZMZRec* rec, int32_t r) {
  if (r < 0) {
    delete rec;
    throw EZipMate::CreateCode(ZMAbsCode(r), true);
  }
  if (r == 1) FZ64 = true;
  if (FVisitor) {
    {
      const std::unique_ptr<TZMZRec> visited(rec);
      FVisitDone = !FVisitor(*visited);
    }
    // The next record takes the same slot and bytes.
    if (FRecordBlock) FRecordBlock->Rewind();
  } else {
    Notify(Add(rec), ckAdded);
  }
  ProgReport(2, 0, 1);
  ThrowIfCancelled();
}

TZMZRec* TZMCentral::NewLoadedRec() { return new (FRecordBlock.get()) TZMZRec(this); }

void TZMCentral::LoadRecordsByField() {
  for (int32_t n = 0; n < FTotalEntries && !FVisitDone; ++n) {
    TZMZRec* rec = NewLoadedRec();
    AddLoaded(rec, rec->ReadCentral());
  }
}

// Reads the directory in large blocks and parses the records from memory; the same
// results as reading each record field by field.
void TZMCentral::LoadRecordsBuffered(int64_t capLimit) {
  // Not zero-filled: only bytes that were read are ever parsed.
  size_t size = size_t(std::min<int64_t>(int64_t(kLoadBlock), std::max<int64_t>(capLimit, 4096)));
  std::unique_ptr<uint8_t[]> buf(new uint8_t[size]);
  size_t start = 0, end = 0;
  bool atEof = false;
  // Makes at least want bytes available from start, unless the file ends first.
  auto fill = [&](size_t want) {
    if (end - start >= want || atEof) return;
    if (size < want) {
      const size_t bigger = std::min(std::max(want, size * 2), kMaxRecord + kLoadBlock);
      std::unique_ptr<uint8_t[]> grown(new uint8_t[bigger]);
      std::memcpy(grown.get(), buf.get() + start, end - start);
      buf = std::move(grown);
      size = bigger;
      end -= start;
      start = 0;
    } else if (start > 0) {
      std::memmove(buf.get(), buf.get() + start, end - start);
      end -= start;
      start = 0;
    }
    while (end < want && !atEof) {
      const int32_t got = Read(buf.get() + end, int32_t(size - end));
      if (got < 0) throw EZipMate::CreateCode(ZMAbsCode(got), true);
      if (got == 0) atEof = true;
      end += size_t(got);
    }
  };
  for (int32_t n = 0; n < FTotalEntries && !FVisitDone; ++n) {
    fill(kFixedCentral);
    size_t need = kFixedCentral;
    if (end - start >= size_t(kFixedCentral) &&
        zm::GetLE32(buf.get() + start) == zm::layout::TCentralHeader::Signature) {
      const uint8_t* p = buf.get() + start;
      need += size_t(zm::GetLE16(p + 28)) + zm::GetLE16(p + 30) + zm::GetLE16(p + 32);
      fill(need);
    }
    TZMZRec* rec = NewLoadedRec();
    size_t used = 0;
    const int32_t r = rec->ParseCentral(buf.get() + start, end - start, used);
    start += used;
    AddLoaded(rec, r);
  }
}

int32_t TZMCentral::LoadCentral() {
  if (!IsOpen()) return -164;
  if (!(FInfo & kInfoTrailerFound)) return -ZM_CODE(zmmZMCentral, zmsUnknownError);
  try {
    ClearEntries();
    FVisitDone = false;
    FGeneration = NextSerial();
    Notify(FGeneration, ckCleared);
    FCentralPos = FCentralOffset;
    int64_t expected = FCentralOffset;
    const bool here = FDiskNr == FCentralDisk;
    if (!here) {
      SelectDisk(FCentralDisk);
      FArchiveSize = SeekCheck(2, ZM_CODE(zmmZMCentral, zmsSeekErrorReadingZipArchive), 0);
    } else {
      // The directory ends where the (Zip64) end record begins.
      expected = FEOCOffset - FCentralSize;
    }
    FCentralPos = expected;
    if (FCentralOffset != expected) {
      ShowMessageIdSuffix(ZM_CODE(zmmZMCentral, zmsWarningErrorInZipStructure), "");
      if (here) {
        // The place the engine reads too (the rules are in ZMTrailer.h).
        TZMWorkFileBytes bytes(*this, ZM_CODE(zmmZMCentral, zmsSeekErrorReadingZipArchive),
                               ZM_CODE(zmmZMCentral, zmsErrorWhileReadingCentralHeader));
        const zm::TCentralPlace place = zm::LocateCentral(bytes, uint64_t(FEOCOffset), uint64_t(FCentralSize),
                                                          uint64_t(FCentralOffset), FTotalEntries == 0);
        if (place.At == zm::TCentralAt::Neither && place.StatedUnreadable)
          throw EZipMate::CreateMsg(ZMAbsCode(bytes.FailCode()));
        FCentralPos = place.Start;
      } else {
        SeekCheck(0, ZM_CODE(zmmZMCentral, zmsSeekErrorReadingZipArchive), FCentralOffset);
        uint8_t sig[4];
        ReadCheck(sig, 4, ZM_CODE(zmmZMCentral, zmsErrorWhileReadingCentralHeader));
        if (zm::GetLE32(sig) == zm::layout::TCentralHeader::Signature) FCentralPos = FCentralOffset;
      }
    }
    if (FCentralPos < 0)
      throw EZipMate::CreateCode(ZM_CODE(zmmZMCentral, zmsSeekErrorReadingZipArchive), true);
    SeekCheck(0, ZM_CODE(zmmZMCentral, zmsSeekErrorReadingZipArchive), FCentralPos);
    ProgReport(1, 41, FTotalEntries);
    if (FTotalEntries < 0)
      throw EZipMate::CreateCode(ZM_CODE(zmmZMCentral, zmsErrorWhileReadingCentralHeader), true);
    // Every record takes at least 46 bytes: no more slots than the file can hold.
    const int64_t fileSize = Seek(2, 0);
    SeekCheck(0, ZM_CODE(zmmZMCentral, zmsSeekErrorReadingZipArchive), FCentralPos);
    const int64_t room = fileSize > FCentralPos ? (fileSize - FCentralPos) / kFixedCentral + 1 : 1;
    // A visited record lives only while it is visited: one slot serves them all.
    const int slots = FVisitor ? 1 : int(std::min<int64_t>(FTotalEntries, room));
    if (!FVisitor) SetCapacity(slots);
    // The records keep their stored names and extra fields in the block too; they cannot
    // take more than the rest of the file (in bulk memory only the pages used count).
    const int64_t perRecord = 2 * 0xFFFF + int64_t(TZMPackedBytes::kLengthBytes);
    const int64_t byteRoom = std::clamp<int64_t>(fileSize - FCentralPos, 0, int64_t(slots) * perRecord);
    FRecordBlock.reset(
        TZMRecordBlock::Create(TZMZRec::SlotSizeFor(sizeof(TZMZRec)), size_t(slots), size_t(byteRoom)));
    Notify(FTotalEntries, ckAnnounced);
    if (FIsMultiDisk)
      LoadRecordsByField();
    else
      LoadRecordsBuffered(fileSize - FCentralPos);
    FInfo = (FInfo & ~7u) | kInfoLoaded;
  } catch (...) {
    ProgReport(3, 0, 0);
    SetFileName("");
    File_Close();
    Notify(FCount, ckLoaded);
    throw;
  }
  ProgReport(3, 0, 0);
  FCentralOffset = FCentralPos;
  Notify(FCount, ckLoaded);
  return 0;
}

int64_t TZMCentral::WriteCentralDirectory() {
  const bool trace = Verbosity() > 1;
  FCentralOffset = Position();
  FCentralDisk = FDiskNr;
  FCentralEntries = 0;
  FTotalEntries = 0;
  FCentralSize = 0;
  ProgReport(6, 39, FCount);
  bool first = true;
  for (int i = 0; i < FCount; ++i) {
    TZMZRec* rec = FEntries[size_t(i)].get();
    if (!rec) continue;
    if (rec->StatusBits() & (zsbDiscard | zsbError)) {
      if (trace) TraceLine("skipped Writing central [" + std::to_string(i) + "] " + rec->FileName());
      continue;
    }
    if (trace) TraceLine("Writing central [" + std::to_string(i) + "] " + rec->FileName());
    const int32_t r = rec->WriteCentral();
    if (r < 0) return r;
    const int64_t written = rec->CentralHeaderSize();
    const int64_t after = Position();
    // The record is written unbroken: one that began a new volume starts its part.
    if (written >= after) FCentralEntries = 0;
    if (first) {
      // Where the directory really starts, after a move to a new volume too.
      FCentralOffset = after - written;
      FCentralDisk = FDiskNr;
      first = false;
    }
    FCentralSize += written;
    ++FTotalEntries;
    ++FCentralEntries;
    ProgReport(7, 0, 1);
  }
  if (first) {
    // An empty directory: the trailer follows whatever was written last.
    FCentralOffset = std::max<int64_t>(Position(), 0);
    FCentralDisk = FDiskNr;
  }
  const int32_t e = WriteEOC();
  if (e < 0) return e;
  ProgReport(7, 0, 1);
  const int64_t result = FCentralSize + e;
  if (trace && result > 0) TraceLine("  finished ok");
  return result;
}
