// The in-memory central directory of one archive: the records it owns, loaded from
// the opened archive, searched by name and handed to the directory view.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ZMCentralStore.h"
#include "ZMEOC.h"
#include "ZMIRec.h"

// Notification of the directory's user: sender, value and kind (1 cleared for a load,
// value the new generation; 2 records announced; 3 record added, value its index;
// 6 load finished, value the record count).
using TZMCentralChangeEvent = std::function<void(TObject* sender, int value, int kind)>;

// Takes one record of a directory being read without being kept; false ends the
// reading early.
using TZMRecordVisitor = std::function<bool(const TZMZRec& rec)>;

// Archive state bits of FInfo kept by the directory.
inline constexpr uint32_t kInfoOpened = 0x40;
inline constexpr uint32_t kInfoTrailerFound = 0x800;
inline constexpr uint32_t kInfoLoaded = 0x1000;
inline constexpr uint32_t kInfoNewSettings = 0x2000;

// Index given back by searches that found nothing.
inline constexpr int kNotFoundIndex = int(0x80000001u);

class TZMCentral : public TZMEOC {
 public:
  enum TChangeKind : int { ckCleared = 1, ckAnnounced = 2, ckAdded = 3, ckLoaded = 6 };

  TZMCentral(TCustomZipMate& master, TZMWorkBin* owner = nullptr);
  ~TZMCentral() override;

  using TZMWorkFile::Truncate;

  // Trailer values, then a copy of every record without status bits 64 or 128.
  void AssignFrom(const TZMWorkFile& other) override;

  virtual void ClearEntries();
  // A new record of this directory filled from rec.
  virtual TZMZRec* NewRecFrom(const TZMZRec& rec);
  // Grows the slots to (n OR 15) + 1 when fewer.
  virtual void SetCapacity(int n);
  // Appends (and owns) the record; its index.
  virtual int Add(TZMZRec* rec);
  virtual void ClearCachedNames();
  // The first record after index whose name matches pattern; index is set to its
  // position, or to kNotFoundIndex with a null result.
  virtual TZMZRec* FindName(const std::string& pattern, int& index, bool hasWildcards);
  // Index of another entry with the same name as rec, or a negative value.
  virtual int CheckDuplicate(TZMZRec* rec);
  // Frees the records from the end down to index n; how many were removed.
  virtual int Truncate(int n);
  // A record of this directory changed its stored name.
  virtual void EntryRenamed(TZMZRec* rec);

  // The record at i; raises message 199 outside 0..Count-1.
  TZMZRec* Items(int i) const;
  // Replaces the record at i (freeing the previous one); raises 199 outside the range.
  void SetItem(int i, TZMZRec* rec);
  // Reads the whole central directory; 0, or a code when nothing could be read.
  // Raises for unreadable records.
  int32_t LoadCentral();
  // The record at i when generation is the current one and i is in range.
  TZMZRec* EntryAt(int32_t generation, int i) const;
  // Writes the central record of every entry without status bits 64 and 128, then the
  // trailer, at the open target's position: bytes written or a negative code.
  int64_t WriteCentralDirectory();

  int Count() const { return FCount; }
  int Capacity() const { return FCapacity; }
  int SelCount() const { return FSelCount; }
  int32_t Generation() const { return FGeneration; }
  int64_t CentralPos() const { return FCentralPos; }
  // The storage of the records made by the last load (null when they came from the heap).
  const TZMRecordBlock* RecordBlock() const { return FRecordBlock.get(); }
  const TZMCentralChangeEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TZMCentralChangeEvent e) { FOnChange = std::move(e); }
  // While a visitor is set, LoadCentral hands it each record in turn and keeps none:
  // the directory stays empty, and memory does not grow with the number of records.
  // The checks and the messages are those of a load that keeps them.
  void SetVisitor(TZMRecordVisitor v) { FVisitor = std::move(v); }

 protected:
  void Notify(int value, int kind);
  // Moves to the part holding the given disk when the archive spans several.
  void SelectEntryDisk(int disk);
  // Record loop over the directory held in memory (single-file archives).
  void LoadRecordsBuffered(int64_t capLimit);
  void LoadRecordsByField();
  void AddLoaded(TZMZRec* rec, int32_t r);
  // A record for the directory being loaded, from the load's block while it has room.
  TZMZRec* NewLoadedRec();

  int32_t FCapacity = 0;
  int32_t FGeneration = 0;
  int32_t FCount = 0;
  int32_t FSelCount = 0;
  TZMCentralChangeEvent FOnChange;
  TZMRecordVisitor FVisitor;
  // The visitor asked for no more records.
  bool FVisitDone = false;
  // Holds the loaded records' storage; declared before FEntries so that it is let go
  // after them (it outlives them in any case: see TZMRecordBlock).
  std::unique_ptr<TZMRecordBlock, TZMRecordBlockRelease> FRecordBlock;
  std::vector<std::unique_ptr<TZMZRec>> FEntries;
  int64_t FCentralPos = 0;

  friend class TZMZRec;
};
