// The archive trailer: finds and checks the end-of-central-directory record and the
// Zip64 locator and end record, keeps their values and the archive comment, notes what
// the file starts with, handles a self-extractor stub in front of the archive and a
// name that belongs to a multi-part set, and writes the trailer of a new archive.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "ZMClasses.h"
#include "ZMTrailer.h"
#include "ZMWZip.h"
#include "ZMRecords.h"

// Record sizes.
inline constexpr int kEndOfCentralSize = int(zm::layout::TEndOfCentral::FixedSize);
inline constexpr int kZip64LocatorSize = int(zm::layout::TZip64Locator::FixedSize);
inline constexpr int kZip64EndOfCentralSize = int(zm::layout::TZip64EndOfCentral::FixedSize);
// The largest comment plus the end record.
inline constexpr int kEOCSearchWindow = 65535 + kEndOfCentralSize;

// FFileKind values.
inline constexpr uint8_t kFileKindUnknown = 0;
inline constexpr uint8_t kFileKindLocal = 1;
inline constexpr uint8_t kFileKindSpanned = 2;
inline constexpr uint8_t kFileKindExe = 3;

// LocateEOC flags.
inline constexpr int32_t kEOCCommentMismatch = 1;  // comment length wrong / data after
inline constexpr int32_t kEOCDataBefore = 2;       // data in front of the archive
inline constexpr int32_t kEOCNeedsZip64 = 0x40;    // a field holds a Zip64 marker

class TZMEOC : public TZMWorkZip {
 public:
  TZMEOC(TCustomZipMate& master, TZMWorkBin* owner = nullptr);
  ~TZMEOC() override;

  // Finds the end record: flags (0, 1, + 0x40) or a negative error code. The file is
  // left open on success and closed on failure.
  int32_t LocateEOC();
  // Reads the Zip64 locator and end record: the flags (+ 2 when data lies in front of
  // the archive) or a negative error code. A record moved by data in front of the
  // archive is found in front of the locator.
  int32_t ReadZip64EOC(int32_t flags);
  // The trailer: 0..3 (bits kEOCCommentMismatch and kEOCDataBefore) or an error code.
  int32_t OpenEOC(bool eocOnly);
  // Looks for the last part of a multi-part set when the name itself did not open.
  int32_t OpenMultiPart(bool eocOnly, int32_t previousError);
  // Opens an archive: the trailer, a self-extractor stub, or a multi-part set.
  int32_t OpenTrailer(bool eocOnly);
  // Decides FNumbering after a successful open of a multi-part archive.
  void DetectNumbering();
  // Writes locator/Zip64 record as needed, end record and comment: bytes of end record
  // and comment written, or a negative error code.
  int32_t WriteEOC();

  int ZipCommentLength() const { return int(FZipComment.size()); }
  const std::string& ZipComment() const { return FZipComment; }
  void SetZipComment(const std::string& bytes) { FZipComment = bytes; }

  int32_t CentralDisk() const { return FCentralDisk; }
  void SetCentralDisk(int32_t v) { FCentralDisk = v; }
  int32_t CentralEntries() const { return FCentralEntries; }
  void SetCentralEntries(int32_t v) { FCentralEntries = v; }
  int64_t CentralOffset() const { return FCentralOffset; }
  void SetCentralOffset(int64_t v) { FCentralOffset = v; }
  int64_t CentralSize() const { return FCentralSize; }
  void SetCentralSize(int64_t v) { FCentralSize = v; }
  int64_t EOCOffset() const { return FEOCOffset; }
  bool MultiPart() const { return FMultiPart; }
  int64_t ArchiveStart() const { return FArchiveStart; }
  int32_t TotalEntries() const { return FTotalEntries; }
  void SetTotalEntries(int32_t v) { FTotalEntries = v; }
  bool Z64() const { return FZ64; }
  void SetZ64(bool v) { FZ64 = v; }
  // The bytes in front of a self-extracting archive, or null.
  TMemoryStream* Stub() const { return FStub.get(); }
  bool StubValid() const { return FStubValid; }
  // Takes the stub out (the caller owns it).
  std::unique_ptr<TMemoryStream> ReleaseStub();
  void SetStub(std::unique_ptr<TMemoryStream> stub);

 protected:
  void ClearTrailer();
  int32_t OpenEOCInner(bool eocOnly);

 private:
  // What the search for a multi-part set knows as it goes.
  struct TPartSearch {
    bool Searching = false;  // the name given does not exist: look for the set's parts
    bool Fixed = false;      // a fixed drive: no disk to ask for
    std::string Base, Folder;
    int PartIndex = -1;  // the numbered part opened last
    int Scheme = 0;      // the numbering of the part found on a new disk
  };
  // A step's result, and whether it is the search's result (else the search goes on).
  struct TPartStep {
    int32_t Result;
    bool Final;
  };
  // Removable media: the set's first part, in either numbering, becomes the name.
  TPartStep FindRemovableFirstPart(const TPartSearch& s);
  // A fixed drive: name001.zip, name002.zip ... of one time (unless any time will do)
  // until the part holding the trailer, which must be the set's last.
  TPartStep OpenNumberedParts(bool eocOnly, TPartSearch& s);
  // The trailer, asking for disks on removable media until one holds it (a set searched
  // for: its first part on each new disk).
  int32_t OpenAskingForDisks(bool eocOnly, TPartSearch& s);
  // A set found by searching must be whole: a single-part archive that is a numbered
  // part, or a set on a fixed drive that ends at another part than the one opened, is
  // not the archive asked for.
  int32_t CheckFoundSet(int32_t result, const TPartSearch& s);

 protected:
  int32_t FCentralDisk = 0;
  int32_t FCentralEntries = 0;
  int64_t FCentralOffset = 0;
  int64_t FCentralSize = 0;
  int64_t FEOCOffset = 0;
  bool FMultiPart = false;
  int64_t FArchiveStart = 0;
  int32_t FTotalEntries = 0;
  bool FZ64 = false;
  std::string FZipComment;
  zm::TEndRecord FEnd;  // the end record as read
  std::unique_ptr<TMemoryStream> FStub;
  bool FStubValid = false;
};
