// A simulated removable drive for tests: a folder of the real file system posing as
// drive A: (or another letter) with a volume label, a serial number and free-space
// figures that the test sets. Paths outside the folder go to the system's layer.
#pragma once
#include <cstdint>
#include <string>

#include "PlatDrive.h"

namespace plat {

class TRemovableDriveDouble : public TDriveLayer {
 public:
  // folder: the real folder that holds the drive's files.
  explicit TRemovableDriveDouble(std::string folder, char letter = 'A');

  std::string DrivePart(const std::string& path) override;
  uint32_t LogicalDrives() override;
  uint32_t DriveType(const std::string& root) override;
  bool VolumeInformation(const std::string& root, std::string& label, uint32_t& serial) override;
  bool SetVolumeLabel(const std::string& root, const std::string& label) override;
  bool DiskFreeSpace(const std::string& root, TDiskGeometry& geometry) override;
  bool DiskFreeSpaceEx(const std::string& root, int64_t& freeToCaller, int64_t& total) override;
  uint32_t SetErrorMode(uint32_t mode) override;

  // The root of the simulated drive, as "A:" + PathDelim.
  std::string Root() const;
  const std::string& Folder() const { return FFolder; }
  char Letter() const { return FLetter; }

  // The simulated medium.
  std::string Label;
  uint32_t Serial = 0x1234ABCD;
  bool MediaPresent = true;          // false: volume queries fail with kErrNotReady
  bool Formatted = true;             // false: volume queries fail with kErrGenFailure
  bool ReadOnly = false;             // label writes fail with kErrWriteProtect
  uint32_t BytesPerSector = 512;
  uint32_t SectorsPerCluster = 1;
  int64_t TotalBytes = 1457664;      // a 1.44 MB floppy
  int64_t FreeBytes = 1457664;
  bool ExtendedQueryFails = false;   // the extended free-space query fails

  // Observations.
  uint32_t ErrorMode = 0;
  int ErrorModeChanges = 0;
  int VolumeQueries = 0;

 private:
  bool IsMine(const std::string& root) const;
  std::string FFolder;
  char FLetter;
};

// Installs a drive layer for a scope and restores the previous one.
class TScopedDrives {
 public:
  explicit TScopedDrives(TDriveLayer* layer) : FPrev(SetDrives(layer)) {}
  ~TScopedDrives() { SetDrives(FPrev); }
  TScopedDrives(const TScopedDrives&) = delete;
  TScopedDrives& operator=(const TScopedDrives&) = delete;

 private:
  TDriveLayer* FPrev;
};

}  // namespace plat
