// The drive of an archive, read through the platform's drive layer.
#include "ZMDrv.h"

#include <filesystem>

#include "PlatDrive.h"
#include "PlatError.h"
#include "PlatPath.h"
#include "ZMMsg.h"
#include "ZMNameParts.h"
#include "ZMXcpt.h"

namespace {

std::string ExpandedPath(const std::string& path) {
  std::error_code ec;
  std::string s = std::filesystem::absolute(std::filesystem::path(path), ec).string();
  return ec ? path : s;
}

}  // namespace

void TZMWorkDrive::Clear() { *this = TZMWorkDrive(); }

void TZMWorkDrive::SetDrive(const std::string& path) {
  const std::string root = zmname::Upper(plat::Drives().DrivePart(ExpandedPath(path)) + plat::PathDelimStr);
  if (root == FLastPath) return;
  Clear();
  if (root.size() == 3 && root[1] == ':') {
    FDriveLetter = root[0];
    FDriveType = plat::Drives().DriveType(root);
    FIsFloppy = FDriveType == plat::kDriveRemovable && (FDriveLetter == 'A' || FDriveLetter == 'B');
  }
  FLastPath = root;
  FDriveRoot = root;
}

void TZMWorkDrive::SetDriveIfChanged(const std::string& path) {
  if (path != FDriveRoot) SetDrive(path);
}

bool TZMWorkDrive::HasMedia(bool tryFormat) {
  FVolumeSize = 0;
  FVolumeFree = 0;
  FFreeClusters = 0;
  FTotalClusters = 0;
  FVolumeLabel.clear();
  FVolumeSerial = 0;
  if (FDriveLetter != 0) {
    if (FDriveLetter < 'A' || FDriveLetter > 'Z')
      throw EZipMate::CreateStr(ZM_CODE(zmmZMDrv, zmsNotValidDrive), FDriveRoot);
    if ((plat::Drives().LogicalDrives() & (1u << (FDriveLetter - 'A'))) == 0)
      throw EZipMate::CreateStr(ZM_CODE(zmmZMDrv, zmsDriveIsNotDefined), FDriveRoot);
  }
  bool queried = false;
  bool unformatted = false;
  {
    plat::TErrorModeScope guard(plat::Drives(), 1);
    std::string label;
    uint32_t serial = 0;
    if (plat::Drives().VolumeInformation(FDriveRoot, label, serial)) {
      queried = true;
      FVolumeLabel = label;
      FVolumeSerial = serial;
      RefreshSpace(7);
    } else {
      unformatted = plat::GetLastError() == plat::kErrGenFailure;
    }
  }
  if (unformatted && tryFormat) return true;
  if (FDriveLetter == 0) return true;
  // A failed volume query means no usable medium, whatever the space fields hold.
  return queried && FVolumeSize != -1;
}

void TZMWorkDrive::RefreshSpace(int which) {
  plat::TDiskGeometry g;
  const bool classic = plat::Drives().DiskFreeSpace(FDriveRoot, g);
  if (classic) {
    FSectorsPerCluster = g.SectorsPerCluster;
    FFreeClusters = g.FreeClusters;
    FTotalClusters = g.TotalClusters;
  }
  int64_t freeBytes = -1;
  int64_t totalBytes = -1;
  if (!plat::Drives().DiskFreeSpaceEx(FDriveRoot, freeBytes, totalBytes)) {
    if (classic) {
      const int64_t cluster = int64_t(g.BytesPerSector) * g.SectorsPerCluster;
      freeBytes = cluster * g.FreeClusters;
      totalBytes = cluster * g.TotalClusters;
    } else {
      freeBytes = -1;
      totalBytes = -1;
    }
  }
  if (which & 1) FVolumeFree = freeBytes;
  if (which & 2) FVolumeSize = totalBytes;
  if ((which & 4) && classic) FBytesPerSector = g.BytesPerSector;
}

bool TZMWorkDrive::WriteVolumeLabel(const std::string& label) {
  if (!FIsFloppy || !HasMedia(false)) return false;
  const bool ok = plat::Drives().SetVolumeLabel(FDriveRoot, label);
  HasMedia(false);
  return ok;
}

bool TZMWorkDrive::Format() {
  if (!FIsFloppy) {
    plat::SetLastError(plat::kErrNotSupported);
    return false;
  }
  bool ok;
  {
    plat::TErrorModeScope guard(plat::Drives(), 1);
    ok = plat::Drives().FormatDrive(FDriveRoot);
  }
  const uint32_t err = plat::GetLastError();
  HasMedia(false);
  plat::SetLastError(ok ? plat::kErrSuccess : err);
  return ok;
}

void TZMWorkDrive::AssignFrom(const TZMWorkDrive& other) {
  if (&other == this) return;
  *this = other;
}
