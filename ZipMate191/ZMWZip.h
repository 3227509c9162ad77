// An archive file: the name as given and the name actually opened, the archive's state
// bits, the file information captured to notice changes, the drive, and the volume
// layer through which reads move between the parts of a multi-part archive.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZMDrv.h"
#include "ZMWorkFile.h"

class TZMWorkZip : public TZMWorkFile {
 public:
  // FNumbering values.
  static constexpr uint8_t kNumberingUnknown = 0;
  static constexpr uint8_t kNumberingLabels = 1;
  static constexpr uint8_t kNumberingNumbered = 2;
  static constexpr uint8_t kNumberingCompatible = 3;
  // FInfo bit set when the user refused a disk.
  static constexpr uint32_t kInfoDiskCancelled = 0x80;

  TZMWorkZip(TCustomZipMate& master, TZMWorkBin* owner = nullptr);
  ~TZMWorkZip() override;

  void SetFileName(const std::string& name) override;
  // Also copies the volume fields, the drive and the captured file information when
  // other is a TZMWorkZip.
  void AssignFrom(const TZMWorkFile& other) override;
  bool File_Create(const std::string& name = std::string()) override;
  bool File_Open(uint32_t mode) override;
  std::string DisplayName(bool withFileName) const override;
  // On a multi-part archive these move between parts; otherwise single-file transfers.
  int32_t Read(void* buffer, int32_t count) override;
  int32_t ReadFields(void* buffer, const int32_t* sizes, int high) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t WriteFields(const void* buffer, const int32_t* sizes, int high) override;

  // The file's last-write time as a local DOS date-time; 0 when not open.
  int32_t FileDateTime();
  // Compares the current by-handle information with the captured one.
  bool FileChanged(bool ignoreWriteTime);
  void CaptureFileInfo();
  void ClearFileInfo();
  // Scratch buffer of at least n + 1 bytes (grown to (n OR 1023) + 1); n <= 0 frees it
  // and returns null.
  uint8_t* WorkBuffer(int n);
  int WorkBufferSize() const { return int(FWorkBuffer.size()); }

  // ---- volume layer ----
  // Makes part n current.
  void SelectDisk(int n);
  // Closes, makes part n current and opens it (asking for the disk as needed).
  void GetVolume(int n, bool wantEmpty);
  // Obtains a disk in a removable drive, prompting the user.
  void AskDisk(bool writing, bool tryFormat);
  // Locates the file of part FDiskNr; may rename FFileName to the part's name.
  bool FindVolume();
  // Name of part n in the numbered scheme (raises message 179 above 999).
  std::string NumberedName(const std::string& name, int n, bool stripOld) const;
  // Name of part FDiskNr + 1: numbered, or the compatible name when compat is set.
  std::string PartName(const std::string& name, bool stripOld, bool compat) const;
  static std::string VolumeLabel(int n);
  static std::string VolumeLabelSpaced(int n);
  // Larger than 34 bytes and starting with the spanning marker and a local header.
  static bool IsSpannedFirstPart(const std::string& name);
  TZMSpanOpts NumberingToSpanOptions(TZMSpanOpts options) const;

  // ---- state ----
  int64_t VolumeRemaining() const { return FVolumeRemaining; }
  void SetVolumeRemaining(int64_t v) { FVolumeRemaining = v; }
  int32_t DiskNr() const { return FDiskNr; }
  void SetDiskNr(int32_t v) { FDiskNr = v; }
  int64_t ArchiveSize() const { return FArchiveSize; }
  void SetArchiveSize(int64_t v) { FArchiveSize = v; }
  uint32_t Info() const { return FInfo; }
  void SetInfo(uint32_t v) { FInfo = v; }
  const std::string& RealFileName() const { return FRealFileName; }
  void SetRealFileName(const std::string& v) { FRealFileName = v; }
  const std::string& ArchiveName() const { return FArchiveName; }
  void SetArchiveName(const std::string& v) { FArchiveName = v; }
  uint8_t FileKind() const { return FFileKind; }
  int32_t TotalDisks() const { return FTotalDisks; }
  void SetTotalDisks(int32_t v) { FTotalDisks = v; }
  TZMWorkDrive& Drive() { return *FDrive; }
  const TZMWorkDrive& Drive() const { return *FDrive; }
  uint8_t DiskAction() const { return FDiskAction; }
  uint8_t DiskStatus() const { return FDiskStatus; }
  bool IsMultiDisk() const { return FIsMultiDisk; }
  void SetIsMultiDisk(bool v) { FIsMultiDisk = v; }
  bool NewDisk() const { return FNewDisk; }
  void SetNewDisk(bool v) { FNewDisk = v; }
  uint8_t Numbering() const { return FNumbering; }
  void SetNumbering(uint8_t v) { FNumbering = v; }
  const plat::TFileInfo& CapturedFileInfo() const { return FFileInfo; }

 protected:
  int32_t MultiRead(void* buffer, int32_t count);
  int32_t MultiWrite(const void* buffer, int32_t count);
  // Opens the next volume for writing.
  void PrepareVolumeForWriting();

  int64_t FVolumeRemaining = 0;
  int32_t FDiskNr = 0;
  int64_t FArchiveSize = 0;
  uint32_t FInfo = 0;
  std::string FRealFileName;
  std::string FArchiveName;
  uint8_t FFileKind = 0;
  int32_t FTotalDisks = 0;
  std::unique_ptr<TZMWorkDrive> FDrive;
  uint8_t FDiskAction = 0;
  uint8_t FDiskStatus = 0;
  std::vector<uint8_t> FWorkBuffer;
  bool FIsMultiDisk = false;
  bool FNewDisk = false;
  uint8_t FNumbering = 0;
  plat::TFileInfo FFileInfo;
};

// First file of the folder of base that looks like a part of the set whose path
// without extension is base: numbered (base + "???.zip") or compatible (base + ".z??*").
// The name without folder, or empty.
std::string FindFirstPart(const std::string& base, bool compat);
