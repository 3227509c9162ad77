// An archive file: the name as given and the name actually opened, the archive's state
// bits, the file information captured to notice changes, the drive, and the volume
// layer through which reads move between the parts of a multi-part archive.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
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
  // While FIsMultiDisk is set this starts a new multi-part target named name (or
  // FFileName): FFileName stays the set's name and the first part is obtained and
  // created at once (FRealFileName names it). That may ask for a disk and raises
  // EZipMate as the volume layer does (cancel, 121, 174, 179).
  // Also copies the volume fields, the drive and the captured file information when
  // other is a TZMWorkZip.
  void AssignFrom(const TZMWorkFile& other) override;
  bool File_Create(const std::string& name = std::string()) override;
  bool File_Open(uint32_t mode) override;
  void File_Attach(plat::THandle h, const std::string& name) override;
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
  // The names of every part of the archive being read, as the volume layer finds them
  // on a fixed drive (only the name itself for a single file or labelled disks).
  std::vector<std::string> PartNames() const;
  static std::string VolumeLabel(int n);
  static std::string VolumeLabelSpaced(int n);
  // Larger than 34 bytes and starting with the spanning marker and a local header.
  static bool IsSpannedFirstPart(const std::string& name);
  TZMSpanOpts NumberingToSpanOptions(TZMSpanOpts options) const;
  // Closes the target; a multi-part archive's last part gets its final name (FFileName)
  // when the naming calls for it. 0 when nothing was left to do or the rename was done,
  // -1 when the last part kept its part name.
  int32_t FinishVolumes();
  // After a failed or cancelled write: closes and deletes the parts created by this
  // target that are still reachable (all on a fixed drive, the one on the disk in the
  // drive when it is still the disk they were written to). Returns the number deleted.
  int AbandonVolumes();
  // The real folder that is the root of the drive holding name (a removable drive's
  // files are reached through it).
  static std::string DiskFolder(const std::string& name);

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
  // Obtains, checks and creates the next volume for writing (part FDiskNr).
  void PrepareVolumeForWriting();
  // Name of part FDiskNr of the set named FFileName when writing: the disk's name with
  // labels, arc001.zip… when numbered, arc.z01… when compatible (the last part is
  // renamed to the set's name by FinishVolumes).
  std::string WritingPartName() const;
  // Status bits of the disk in the drive for writing partName.
  uint8_t DiskStatusFor(const std::string& partName, int64_t space) const;
  // Deletes every file and folder of the disk (after a format where offered).
  void EraseDisk(bool tryFormat);
  // Bytes that may go on the volume in the drive, partName replaced.
  int64_t VolumeSpace(const std::string& partName);
  [[noreturn]] void RaiseCancelled();

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
  // Writing: a yes-to-all answer given, and the parts created with the serial of the
  // volume each went to.
  bool FYesToAll = false;
  std::vector<std::pair<std::string, uint32_t>> FCreatedParts;
  int64_t FVolumeWritten = 0;
};

// First file of the folder of base that looks like a part of the set whose path
// without extension is base: numbered (base + "???.zip") or compatible (base + ".z??*").
// The name without folder, or empty.
std::string FindFirstPart(const std::string& base, bool compat);
