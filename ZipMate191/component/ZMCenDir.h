// The directory view of one listing: the archive reader it owns and the entries the
// application and the workers read. Entries are shared objects that stay safe to read
// after the view has moved on or gone; they then read as stale (zero or empty). They
// live side by side in one store that the entries handed out keep alive.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ZMClasses.h"
#include "ZMIRec.h"

class TCustomZipMate;
class TZMCenDir;
class TZMLister;
class TZMZipFile;

// Reader state bits owned by the view.
inline constexpr uint32_t kInfoReplaceReader = 0x8000;

// One entry of the view; forwards every read to the record it stands for.
class TZMCentralEntry : public TZMDirEntry {
 public:
  TZMCentralEntry(TZMCenDir* dir, int32_t serial, int32_t index)
      : FDir(dir), FSerial(serial), FIndex(index) {}

  int64_t CompressedSize() const override;
  uint16_t CompressionMethod() const override;
  uint32_t CRC32() const override;
  uint32_t DateTime() const override;
  // 2 (OEM) when stale.
  TZMEncodingOpts Encoded() const override;
  bool Encrypted() const override;
  uint32_t ExtFileAttrib() const override;
  std::string ExtraField() const override;
  uint16_t ExtraFieldLength() const override;
  std::string FileComment() const override;
  uint16_t FileCommentLen() const override;
  std::string FileName() const override;
  uint16_t FileNameLength() const override;
  uint16_t Flag() const override;
  std::string HeaderName() const override;
  uint16_t IntFileAttrib() const override;
  int64_t RelOffLocalHdr() const override;
  uint16_t StartOnDisk() const override;
  uint32_t StatusBits() const override;
  int64_t UncompressedSize() const override;
  uint16_t VersionMadeBy() const override;
  uint16_t VersionNeeded() const override;

  // The record this entry stands for, or null when the entry is stale.
  TZMZRec* Record() const;
  bool Stale() const { return Record() == nullptr; }
  int32_t Serial() const { return FSerial; }
  int32_t Index() const { return FIndex; }

 private:
  friend class TZMCenDir;
  // Null once the view has let the entry go, so that a gone view is never followed.
  TZMCenDir* FDir;
  int32_t FSerial;
  int32_t FIndex;
};

class TZMCenDir : public TObject {
 public:
  explicit TZMCenDir(TZMLister& lister);
  ~TZMCenDir() override;
  TZMCenDir(const TZMCenDir&) = delete;
  TZMCenDir& operator=(const TZMCenDir&) = delete;

  // The current reader; a fresh empty one is installed when there is none or the
  // current one is marked for replacement.
  TZMZipFile& Reader();
  // The current reader without creating one (may be null).
  TZMZipFile* CurrentReader() const { return FReader.get(); }
  // Installs r (owned from now on), rebuilding the view from the records it holds.
  void SetReader(std::unique_ptr<TZMZipFile> r);

  std::string ArchiveComment() const;
  bool IsMultiPart() const;
  int32_t TotalDisks() const;
  bool UseDirOnly() const { return FUseDirOnly; }
  // Rebuilds the view when the value changes; raises no event.
  void SetUseDirOnly(bool value);
  // The reader's record at index when serial is the reader's current listing number.
  TZMZRec* Record(int32_t serial, int32_t index) const;

  int32_t Count() const { return FCount; }
  int32_t Skipped() const { return FSkipped; }
  int32_t Serial() const { return FSerial; }
  // Entry i of the view (0 <= i < Count()), or null outside that range.
  std::shared_ptr<TZMCentralEntry> Entry(int32_t i) const;
  // Entry objects held, in use or spare.
  int32_t Capacity() const { return int32_t(FEntries->Items.size()); }
  TZMLister& Lister() const { return *FLister; }

  // Change notifications of the reader (kinds: 1 cleared, 2 capacity, 3 record added,
  // 6 load finished).
  void ReaderChanged(int value, int kind);

 private:
  void Invalidate();
  void EnsureCapacity(int32_t n);
  // Adds record i of the reader to the view; false when it was left out.
  bool AddRecord(int32_t i);
  void Rebuild();
  int32_t ReaderSerial() const;
  void DropEntries();
  // Entries still held elsewhere stop following this view.
  void ReleaseEntries();

  int32_t FCount = 0;
  std::unique_ptr<TZMZipFile> FReader;
  int32_t FSkipped = 0;
  // The entry objects; a deque, so that appending never moves an entry handed out.
  struct TEntryStore {
    std::deque<TZMCentralEntry> Items;
  };
  std::shared_ptr<TEntryStore> FEntries;
  bool FUseDirOnly = false;
  int32_t FSerial = 0;
  TZMLister* FLister;
};
