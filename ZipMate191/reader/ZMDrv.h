// The drive that holds an archive: letter and type, volume label and serial, cluster
// geometry and space. Only a removable drive A: or B: counts as a changeable disk.
#pragma once
#include <cstdint>
#include <string>

class TZMWorkDrive {
 public:
  // 512 bytes per sector, 4 sectors per cluster, every other field empty or 0.
  TZMWorkDrive() = default;

  // Back to the fields of a new drive.
  void Clear();
  // Examines the drive of a path (nothing when its root was the last one examined).
  void SetDrive(const std::string& path);
  // SetDrive unless the path is the current root.
  void SetDriveIfChanged(const std::string& path);
  bool DriveIsFixed() const { return !FIsFloppy; }
  // Reads label, serial and space. Raises EZipMate 124 (bad letter) or 120 (undefined).
  bool HasMedia(bool tryFormat);
  // Re-reads the space: bit 1 free space, bit 2 volume size, bit 4 bytes per sector.
  void RefreshSpace(int which);
  void RefreshAll() { RefreshSpace(7); }
  // Sets the label of a floppy that holds a medium.
  bool WriteVolumeLabel(const std::string& label);
  // Formats the floppy's medium through the system's format dialog and re-reads it.
  // False when it is not a floppy, formatting is not offered (the platform's last
  // error says kErrNotSupported), the user declined, or the format failed.
  bool Format();
  void AssignFrom(const TZMWorkDrive& other);

  const std::string& VolumeLabel() const { return FVolumeLabel; }
  uint32_t VolumeSerial() const { return FVolumeSerial; }
  bool IsFloppy() const { return FIsFloppy; }
  char DriveLetter() const { return FDriveLetter; }
  const std::string& DriveRoot() const { return FDriveRoot; }
  uint32_t DriveType() const { return FDriveType; }
  const std::string& LastPath() const { return FLastPath; }
  uint32_t FreeClusters() const { return FFreeClusters; }
  uint32_t BytesPerSector() const { return FBytesPerSector; }
  uint32_t SectorsPerCluster() const { return FSectorsPerCluster; }
  int64_t VolumeSize() const { return FVolumeSize; }
  int64_t VolumeFree() const { return FVolumeFree; }
  uint32_t TotalClusters() const { return FTotalClusters; }

 private:
  std::string FVolumeLabel;
  uint32_t FVolumeSerial = 0;
  bool FIsFloppy = false;
  char FDriveLetter = 0;
  std::string FDriveRoot;
  uint32_t FDriveType = 0;
  std::string FLastPath;
  uint32_t FFreeClusters = 0;
  uint32_t FBytesPerSector = 512;
  uint32_t FSectorsPerCluster = 4;
  int64_t FVolumeSize = 0;
  int64_t FVolumeFree = 0;
  uint32_t FTotalClusters = 0;
};
