// Directory entry records: the abstract entry interface, the numeric record and the
// central directory record with its header parsing, name decoding, extra fields,
// header writing and editing operations.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ZMBase.h"
#include "ZMClasses.h"
#include "ZMDirEntry.h"
#include "ZMStoredText.h"
#include "ZMRecords.h"

class TZMCentral;
class TZMRecordBlock;

// Extra-field tags this unit interprets.
inline constexpr uint16_t kZip64Tag = 0x0001;
inline constexpr uint16_t kNtfsTag = 0x000A;
inline constexpr uint16_t kUPathTag = 0x7075;
inline constexpr uint16_t kUCommentTag = 0x6375;

// Record status bits.
inline constexpr uint32_t zsbChanged = 1;
inline constexpr uint32_t zsbSelected = 2;
inline constexpr uint32_t zsbSkipped = 4;
inline constexpr uint32_t zsbIgnore = 8;    // the directory is searched on its behalf
inline constexpr uint32_t zsbDirOnly = 16;  // stored name ends with '/'
inline constexpr uint32_t zsbInvalid = 32;  // being read
inline constexpr uint32_t zsbDiscard = 64;
inline constexpr uint32_t zsbError = 128;        // passed over by name searches
inline constexpr uint32_t zsbHashed = 256;       // FHash is valid
inline constexpr uint32_t zsbLocalDone = 512;    // FLocalExtra is built
inline constexpr uint32_t zsbLocal64 = 1024;     // local header needs Zip64 sizes
inline constexpr uint32_t zsbEncMask = 0x70000;  // bits 16-18: encoding kind
inline constexpr int zsbEncShift = 16;

// The block with the given tag inside an extra field (walk from the first block;
// stops when fewer than 5 bytes remain). pos/len receive the block's data position
// and length. False when absent or when the block runs past the field.
bool FindExtraBlock(const std::string& extra, uint16_t tag, size_t& pos, size_t& len);

// Adds the editing operations, each returning 0 or a negative error code.
class TZMDirRec : public TZMDirEntry {
 public:
  virtual int32_t SetExtFileAttrib(uint32_t value) = 0;
  virtual int32_t SetFileComment(const std::string& text) = 0;
  virtual int32_t SetExtraField(const std::string& bytes) = 0;
  virtual int32_t SetDateStamp(uint32_t dosDateTime) = 0;
  virtual int32_t ReEncode() = 0;
  virtual int32_t SetFileName(const std::string& text) = 0;
};

// The numeric fields of an entry and its status bits.
class TZMIRec : public TZMDirRec {
 public:
  int64_t CompressedSize() const override { return FCompressedSize; }
  uint16_t CompressionMethod() const override { return FCompressionMethod; }
  uint32_t CRC32() const override { return FCRC32; }
  uint32_t DateTime() const override { return FModifDateTime; }
  uint32_t ExtFileAttrib() const override { return FExtFileAttrib; }
  uint16_t IntFileAttrib() const override { return FIntFileAttrib; }
  int64_t RelOffLocalHdr() const override { return FRelOffLocal; }
  uint16_t StartOnDisk() const override { return FStartOnDisk; }
  uint32_t StatusBits() const override { return FStatusBits; }
  int64_t UncompressedSize() const override { return FUncompressedSize; }
  uint16_t VersionNeeded() const override { return FVersionNeeded; }

  // Each returns the previous state of the given bits.
  uint32_t SetStatusBit(uint32_t bits);
  uint32_t ClearStatusBit(uint32_t bits);
  // The set bits among those given; any of them in the low byte reports as 1.
  uint32_t TestStatusBit(uint32_t bits) const;

  // Bytes written (0 when the entry has no data descriptor) or a negative code.
  virtual int32_t WriteDataDesc() = 0;
  virtual void AssignFrom(const TZMIRec& source);
  // Copying records override these to copy an entry's data; plain records have none.
  // Process gives the bytes written or a negative code.
  virtual int64_t Process() { return 0; }
  virtual int64_t ProcessSize() { return 0; }
  virtual int32_t CheckLocal() = 0;

  // Plain setters for builders of new records (no change marking).
  void SetCompressionMethod(uint16_t v) { FCompressionMethod = v; }
  void SetCompressedSize(int64_t v) { FCompressedSize = v; }
  void SetCRC32(uint32_t v) { FCRC32 = v; }
  void SetStartOnDisk(uint16_t v) { FStartOnDisk = v; }
  void SetIntFileAttrib(uint16_t v) { FIntFileAttrib = v; }
  void SetModifDateTime(uint32_t v) { FModifDateTime = v; }
  void SetRelOffLocal(int64_t v) { FRelOffLocal = v; }
  void SetUncompressedSize(int64_t v) { FUncompressedSize = v; }
  void SetVersionNeeded(uint16_t v) { FVersionNeeded = v; }
  uint32_t CachedHash() const { return FHash; }

 protected:
  // Widest first, so that a directory of many records packs tightly.
  int64_t FCompressedSize = 0;
  int64_t FRelOffLocal = 0;
  int64_t FUncompressedSize = 0;
  uint32_t FCRC32 = 0;
  uint32_t FExtFileAttrib = 0;
  mutable uint32_t FHash = 0;
  uint32_t FModifDateTime = 0;
  mutable uint32_t FStatusBits = 0;
  uint16_t FCompressionMethod = 0;
  uint16_t FStartOnDisk = 0;
  uint16_t FIntFileAttrib = 0;
  uint16_t FVersionNeeded = 0;
};

// The texts a listed record seldom has (its comment, the local extra field built for
// writing, a read name kept apart from the stored one, a decoded name that differs from
// the stored one): one pointer for all of them, and one node for each that holds
// something.
class TZMRareTexts {
 public:
  enum TKind { rtComment, rtLocalExtra, rtReadName, rtDecodedName, rtCount };
  TZMRareTexts() = default;
  TZMRareTexts(const TZMRareTexts&) = delete;
  TZMRareTexts& operator=(const TZMRareTexts&) = delete;

  const std::string& Get(TKind k) const;
  void Assign(TKind k, std::string v);
  void Clear(TKind k) { Assign(k, std::string()); }
  bool Empty(TKind k) const { return Get(k).empty(); }
  size_t Size(TKind k) const { return Get(k).size(); }
  static const std::string& EmptyText();

 private:
  struct TNode {
    TKind Kind;
    std::string Text;  // never empty
    std::unique_ptr<TNode> Next;
  };
  std::unique_ptr<TNode> FFirst;
};

// Bytes kept with their length in front (the extra field): one pointer, and nothing more
// while empty. They are in an allocation of their own, or in the byte area of the record
// block of a loaded record, so that a directory of many entries makes no allocation for
// each entry's extra field.
class TZMPackedBytes {
 public:
  TZMPackedBytes() = default;
  ~TZMPackedBytes() { Free(); }
  TZMPackedBytes(const TZMPackedBytes&) = delete;
  TZMPackedBytes& operator=(const TZMPackedBytes&) = delete;

  // The length in front of the bytes.
  static constexpr size_t kLengthBytes = sizeof(uint32_t);

  std::string_view View() const;
  std::string Str() const { return std::string(View()); }
  size_t Size() const { return View().size(); }
  // Keeps a copy of v: in block's byte area when a block is given and has room (only a
  // record cut from that block may pass it), else in an allocation of its own.
  void Assign(std::string_view v, TZMRecordBlock* block = nullptr);

 private:
  // Set in the length when the bytes belong to a record block.
  static constexpr uint32_t kInBlock = 0x80000000u;
  void Free();

  char* FData = nullptr;  // a 32-bit length, then the bytes
};

// A central directory record of one directory (its owner, fixed at creation).
class TZMZRec : public TZMIRec {
 public:
  explicit TZMZRec(TZMCentral* owner);
  ~TZMZRec() override;
  TZMZRec(const TZMZRec&) = delete;
  TZMZRec& operator=(const TZMZRec&) = delete;

  // Records come from the heap, or from a directory's record block when loaded in bulk
  // (new (block) TZMZRec(owner); the heap when the block is full); delete gives each
  // back to where it came from.
  static void* operator new(size_t size);
  static void* operator new(size_t size, TZMRecordBlock* block);
  static void operator delete(void* p);
  static void operator delete(void* p, TZMRecordBlock* block);
  // Bytes a block slot needs for a record of this size.
  static constexpr size_t SlotSizeFor(size_t size) { return size + kHeader; }

  TZMCentral* Owner() const { return FOwner; }

  // ---- reading ----
  TZMEncodingOpts Encoded() const override;
  bool Encrypted() const override { return (FFlag & 1) != 0; }
  std::string ExtraField() const override { return FExtraField.Str(); }
  uint16_t ExtraFieldLength() const override { return uint16_t(FExtraField.Size()); }
  std::string FileComment() const override;
  uint16_t FileCommentLen() const override { return FCommentLen; }
  std::string FileName() const override;
  uint16_t FileNameLength() const override { return FNameLen; }
  uint16_t Flag() const override { return FFlag; }
  std::string HeaderName() const override { return std::string(StoredName()); }
  uint16_t VersionMadeBy() const override { return FVersionMadeBy; }
  const std::string& HeaderComment() const { return FRare.Get(TZMRareTexts::rtComment); }
  // The stored name's bytes, without a copy; valid until the stored name changes.
  std::string_view StoredName() const { return {FNameData ? FNameData : "", FNameLen}; }
  // The name the entry was read with (kept when the stored name changed since).
  std::string_view ReadName() const {
    return FReadIsHeader ? StoredName() : std::string_view(FRare.Get(TZMRareTexts::rtReadName));
  }
  const std::string& LocalExtra() const { return FRare.Get(TZMRareTexts::rtLocalExtra); }
  // NameHashUpper of FileName, computed on first use.
  uint32_t Hash() const;
  // The decoded name as FileName gives it, without a copy; valid until the record's
  // name or cache changes.
  std::string_view NameRef() const;

  // ---- editing ----
  int32_t SetExtFileAttrib(uint32_t value) override;
  int32_t SetFileComment(const std::string& text) override;
  int32_t SetExtraField(const std::string& bytes) override;
  int32_t SetDateStamp(uint32_t dosDateTime) override;
  int32_t ReEncode() override;
  int32_t SetFileName(const std::string& text) override;

  // ---- records ----
  int32_t WriteDataDesc() override;
  void AssignFrom(const TZMIRec& source) override;
  int32_t CheckLocal() override;

  // Reads one central header at the owner's position: 0, 1 (Zip64 values taken) or
  // a negative code.
  int32_t ReadCentral();
  // Parses one complete central header held in memory (the same checks and results
  // as ReadCentral); consumed receives the header's whole length.
  int32_t ParseCentral(const uint8_t* data, size_t size, size_t& consumed);
  int32_t ReadZip64Extra();
  // The stored name (false) or comment (true) in the component's text form.
  std::string DecodeText(bool comment) const;
  // The UTF-8 text of the checked Unicode path (false) or comment (true) block.
  std::string UnicodeExtra(bool comment) const;
  void ClearCache();
  void SetVersions(bool needsZip64);
  void BuildLocalExtra();
  int LocalHeaderSize() const { return 30 + int(FNameLen) + int(LocalExtra().size()); }
  // Bytes of the central header as last written (fixed part, name, extra, comment).
  int CentralHeaderSize() const {
    return 46 + int(FNameLen) + int(FExtraField.Size()) + int(HeaderComment().size());
  }
  // The 46-byte header and its variable fields as written by WriteCentral.
  std::string CentralBytes();
  int32_t WriteCentral();
  // The local header with the given date-time and CRC.
  std::string LocalBytes(uint32_t dateTime, uint32_t crc);
  int32_t WriteLocal(uint32_t dateTime, uint32_t crc);
  std::string CleanName(const std::string& text, bool dropPath) const;
  // 0 with the cleaned name, or a negative code (message 103).
  int32_t CheckedName(const std::string& text, std::string& name) const;
  // Puts a block with this tag first, replacing an old one; false (nothing changed)
  // when the field would grow past 65535 bytes.
  bool ReplaceExtra(uint16_t tag, const std::string& data);
  static std::string HeaderForm(const std::string& name);
  static bool IsInvalidName(const std::string& name);

  // Plain setters for builders of new records (no change marking).
  void SetVersionMadeBy(uint16_t v) { FVersionMadeBy = v; }
  void SetFlag(uint16_t v) { FFlag = v; }
  void SetHeaderName(const std::string& v);
  void SetHeaderComment(const std::string& v);
  void SetRawExtraField(const std::string& v) { FExtraField.Assign(v); }

 private:
  // Re-encodes the given decoded name and comment into the stored form.
  int32_t ReEncodeTo(const std::string& name, const std::string& comment);
  void Report(const std::string& line) const;
  std::string CleanNameUncut(const std::string& text, bool dropPath) const;
  int32_t TakeFixed(const uint8_t* p, uint16_t& extraLen);
  void TakeVariable(const uint8_t* p, uint16_t extraLen);

  // The encoding the stored texts are decoded from: the owner's setting, else Encoded.
  int TextKind() const;
  // The stored texts as the decoder shared with the engine reads them.
  zm::TStoredText StoredText() const;
  // True when the stored name is plain text that decodes to itself.
  bool StoredNameIsDecoded() const;
  // The stored name changes: a read name shared with it is kept apart first.
  void KeepReadName();
  // Sets the stored name (at most 65535 bytes), FNameLen and the status bit zsbDirOnly
  // (the name ends with '/'). A loaded record keeps the bytes in the record block it was
  // cut from when fromBlock is set and the block has room; otherwise they are its own.
  void StoreName(std::string_view v, bool fromBlock = false);
  // The current record block of the owner when this record was cut from it, else null.
  TZMRecordBlock* HomeBlock() const;
  void SetReadNameToStored();

  // Each allocation starts with the block it came from (null: the heap), in as many
  // bytes as keep the record aligned.
  static constexpr size_t kHeader = sizeof(void*) > alignof(int64_t) ? sizeof(void*) : alignof(int64_t);

  // Ordered for packing: the first two fill the end of the numeric part. A decoded or
  // read name equal to the stored one is not kept twice: FNameIsHeader and
  // FReadIsHeader point at the stored name instead. The stored name is FNameLen bytes
  // at FNameData, owned by the record when FNameOwned (else by its record block).
  uint16_t FCommentLen = 0;
  uint16_t FNameLen = 0;
  const char* FNameData = nullptr;
  TZMPackedBytes FExtraField;
  TZMCentral* FOwner;
  // Mutable for the decoded name, which is kept on first use.
  mutable TZMRareTexts FRare;
  uint16_t FFlag = 0;
  uint16_t FVersionMadeBy = 0;
  mutable bool FNameCached = false;
  mutable bool FNameIsHeader = false;
  bool FReadIsHeader = true;
  bool FNameOwned = false;
};
