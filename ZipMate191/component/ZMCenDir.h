// The directory view of one listing: the archive reader it owns and the entries the
// application and the workers read. The view itself is a range of record indices (no
// storage at all while it shows every record); an entry object is made when one is
// asked for. Entries are shared objects that stay safe to read after the view has moved
// on or gone; they then read as stale (zero or empty).
#pragma once
#include <cstdint>
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

// What the entries handed out know of their view: null once the view is gone.
struct TZMCenDirLink {
  TZMCenDir* Dir;
};

// One entry of the view; forwards every read to the record it stands for.
class TZMCentralEntry : public TZMDirEntry {
 public:
  TZMCentralEntry(std::shared_ptr<const TZMCenDirLink> dir, int32_t serial, int32_t index)
      : FDir(std::move(dir)), FSerial(serial), FIndex(index) {}

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
  std::shared_ptr<const TZMCenDirLink> FDir;
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
  // Entry i of the view (0 <= i < Count()), or null outside that range: a new object
  // that stands for the record under the reader's current listing number.
  std::shared_ptr<TZMCentralEntry> Entry(int32_t i) const;
  // The reader's index of the record at view position i (0 <= i < Count()).
  int32_t RecordIndex(int32_t i) const { return FIndices.empty() ? i : FIndices[size_t(i)]; }
  // Positions the view keeps room for: none while it shows every record in order.
  int32_t Capacity() const { return int32_t(FIndices.capacity()); }
  TZMLister& Lister() const { return *FLister; }

  // Change notifications of the reader (kinds: 1 cleared, 2 capacity, 3 record added,
  // 6 load finished).
  void ReaderChanged(int value, int kind);

 private:
  // A new listing number; the view is empty until records are added again.
  void Invalidate();
  // Adds record i of the reader to the view; false when it was left out.
  bool AddRecord(int32_t i);
  void Rebuild();
  int32_t ReaderSerial() const;
  void DropEntries();

  int32_t FCount = 0;
  std::unique_ptr<TZMZipFile> FReader;
  int32_t FSkipped = 0;
  // The record index of each position once the view differs from the reader's order
  // (a record was left out or added out of order); empty while position i is record i.
  std::vector<int32_t> FIndices;
  std::shared_ptr<TZMCenDirLink> FLink;
  bool FUseDirOnly = false;
  int32_t FSerial = 0;
  TZMLister* FLister;
};
