// A simulated removable drive for tests: a folder of the real file system posing as
// drive A: (or another letter) with a volume label, a serial number and free-space
// figures that the test sets. Paths outside the folder go to the system's layer.
// Several media can be kept: the one in the drive has its files in the folder, the
// others keep theirs on a shelf beside it until they are inserted.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "PlatDrive.h"

namespace plat {

// What a medium takes with it from the drive to its shelf and back.
struct TMediumFacts {
  std::string Label;
  uint32_t Serial = 0x1234ABCD;
  bool Formatted = true;         // false: volume queries fail with kErrGenFailure
  bool ReadOnly = false;         // label writes fail with kErrWriteProtect
  int64_t TotalBytes = 1457664;  // a 1.44 MB floppy
  int64_t FreeBytes = 1457664;
};

class TRemovableDriveDouble : public TDriveLayer, public TMediumFacts {
 public:
  // folder: the real folder that holds the drive's files.
  explicit TRemovableDriveDouble(std::string folder, char letter = 'A');
  // Removes the shelves of the media (their files go with them).
  ~TRemovableDriveDouble() override;
  TRemovableDriveDouble(const TRemovableDriveDouble&) = delete;
  TRemovableDriveDouble& operator=(const TRemovableDriveDouble&) = delete;

  std::string DrivePart(const std::string& path) override;
  uint32_t LogicalDrives() override;
  uint32_t DriveType(const std::string& root) override;
  bool VolumeInformation(const std::string& root, std::string& label, uint32_t& serial) override;
  bool SetVolumeLabel(const std::string& root, const std::string& label) override;
  bool DiskFreeSpace(const std::string& root, TDiskGeometry& geometry) override;
  bool DiskFreeSpaceEx(const std::string& root, int64_t& freeToCaller, int64_t& total) override;
  uint32_t SetErrorMode(uint32_t mode) override;
  // Formats as FormatAnswer says: a done format empties the folder and the label.
  bool FormatDrive(const std::string& root) override;

  // The root of the simulated drive, as "A:" + PathDelim.
  std::string Root() const;
  const std::string& Folder() const { return FFolder; }
  char Letter() const { return FLetter; }

  // The simulated medium: its facts (TMediumFacts) and these.
  bool MediaPresent = true;  // false: volume queries fail with kErrNotReady
  uint32_t BytesPerSector = 512;
  uint32_t SectorsPerCluster = 1;
  bool ExtendedQueryFails = false;  // the extended free-space query fails
  // Free space follows the files: TotalBytes less their sizes in whole clusters.
  bool FreeFromFiles = false;

  // What a format request does.
  enum TFormatAnswer { fmtNotOffered, fmtDone, fmtDeclined, fmtFails };
  TFormatAnswer FormatAnswer = fmtNotOffered;
  int Formats = 0;  // format requests seen

  // Media library. AddMedium returns the number of a new blank medium (not inserted).
  int AddMedium(const std::string& label, int64_t totalBytes = 1457664);
  // Takes the medium in the drive out (to its shelf) and puts medium k in; -1 leaves
  // the drive empty. Files in the folder before the first Insert stay in it.
  void Insert(int k);
  int Inserted() const { return FInserted; }
  int Media() const { return int(FMedia.size()); }
  // Names of the files of medium k (in the drive or on its shelf), sorted.
  std::vector<std::string> FilesOf(int k) const;
  // Bytes the files in the drive take, in whole clusters.
  int64_t UsedBytes() const;

  // Observations.
  uint32_t ErrorMode = 0;
  int ErrorModeChanges = 0;
  int VolumeQueries = 0;

 private:
  struct TMedium : TMediumFacts {
    std::string Shelf;
  };
  bool IsMine(const std::string& root) const;
  int64_t Free() const;
  std::string FFolder;
  char FLetter;
  std::vector<TMedium> FMedia;
  int FInserted = -1;
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
