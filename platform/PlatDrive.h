// Drives and volumes: the drive of a path, its type, volume label and serial, its
// cluster geometry and free space. Calls go through a replaceable drive layer so that
// tests can put a simulated removable drive in place of the system's.
#pragma once
#include <cstdint>
#include <string>

#include "PlatError.h"

namespace plat {

// Drive types, numbered as the system's drive-type query reports them.
inline constexpr uint32_t kDriveUnknown = 0;
inline constexpr uint32_t kDriveNoRootDir = 1;
inline constexpr uint32_t kDriveRemovable = 2;
inline constexpr uint32_t kDriveFixed = 3;
inline constexpr uint32_t kDriveRemote = 4;
inline constexpr uint32_t kDriveCdRom = 5;
inline constexpr uint32_t kDriveRamDisk = 6;

// Last-error values of volume queries.
inline constexpr uint32_t kErrNotReady = 21;     // no medium in the drive
inline constexpr uint32_t kErrGenFailure = 31;   // medium present but not formatted
inline constexpr uint32_t kErrCancelled = 1223;  // the user closed the format dialog

// Cluster geometry as the classic free-space query reports it.
struct TDiskGeometry {
  uint32_t SectorsPerCluster = 0;
  uint32_t BytesPerSector = 0;
  uint32_t FreeClusters = 0;
  uint32_t TotalClusters = 0;
};

// The operating system's drives. Failing calls set the last error (PlatError.h).
class TDriveLayer {
 public:
  virtual ~TDriveLayer() = default;
  // The drive part of an absolute path: "C:" or "\\server\share" where drives have
  // letters, empty for a path on a system without them.
  virtual std::string DrivePart(const std::string& path) = 0;
  // Bit n set: drive letter 'A' + n exists.
  virtual uint32_t LogicalDrives() = 0;
  // One of the kDrive* values for a root such as "C:\" (or "/" on POSIX).
  virtual uint32_t DriveType(const std::string& root) = 0;
  virtual bool VolumeInformation(const std::string& root, std::string& label, uint32_t& serial) = 0;
  virtual bool SetVolumeLabel(const std::string& root, const std::string& label) = 0;
  virtual bool DiskFreeSpace(const std::string& root, TDiskGeometry& geometry) = 0;
  // Bytes available to the caller and total bytes of the volume.
  virtual bool DiskFreeSpaceEx(const std::string& root, int64_t& freeToCaller, int64_t& total) = 0;
  // Critical-error mode; returns the previous mode (a no-op on POSIX).
  virtual uint32_t SetErrorMode(uint32_t mode) = 0;
  // Formats the medium of a removable drive's root through the system's own format
  // dialog (full format, default capacity). False with kErrNotSupported where the
  // system offers none, kErrCancelled when the user declined, or the failure's error.
  virtual bool FormatDrive(const std::string& root) {
    (void)root;
    SetLastError(kErrNotSupported);
    return false;
  }
};

// The system's drive layer.
TDriveLayer& SystemDrives();
// The drive layer in use (the system's unless replaced).
TDriveLayer& Drives();
// Replaces the drive layer (null restores the system's); returns the previous one.
TDriveLayer* SetDrives(TDriveLayer* layer);

// A layer's critical-error mode set for as long as the scope lives, the old one put back
// however it ends.
class TErrorModeScope {
 public:
  TErrorModeScope(TDriveLayer& layer, uint32_t mode) : FLayer(layer), FSaved(layer.SetErrorMode(mode)) {}
  ~TErrorModeScope() { FLayer.SetErrorMode(FSaved); }
  TErrorModeScope(const TErrorModeScope&) = delete;
  TErrorModeScope& operator=(const TErrorModeScope&) = delete;

 private:
  TDriveLayer& FLayer;
  uint32_t FSaved;
};

}  // namespace plat
