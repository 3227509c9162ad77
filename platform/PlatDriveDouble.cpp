// The simulated removable drive.
#include "PlatDriveDouble.h"

#include <cctype>
#include <filesystem>

#include "PlatError.h"
#include "PlatPath.h"

namespace plat {

namespace {

std::string Normalised(const std::string& path) {
  std::error_code ec;
  std::string s = std::filesystem::absolute(std::filesystem::path(path), ec).lexically_normal().string();
  if (ec) s = path;
  while (s.size() > 1 && (s.back() == '/' || s.back() == '\\')) s.pop_back();
  return s;
}

}  // namespace

TRemovableDriveDouble::TRemovableDriveDouble(std::string folder, char letter)
    : FFolder(Normalised(folder)), FLetter(char(std::toupper(static_cast<unsigned char>(letter)))) {}

std::string TRemovableDriveDouble::Root() const { return std::string(1, FLetter) + ":" + PathDelimStr; }

bool TRemovableDriveDouble::IsMine(const std::string& root) const {
  if (root.size() < 2 || root[1] != ':') return false;
  if (std::toupper(static_cast<unsigned char>(root[0])) != FLetter) return false;
  return root.size() == 2 || (root.size() == 3 && (root[2] == '/' || root[2] == '\\'));
}

std::string TRemovableDriveDouble::DrivePart(const std::string& path) {
  const std::string p = Normalised(path);
  if (p == FFolder ||
      (p.size() > FFolder.size() && p.compare(0, FFolder.size(), FFolder) == 0 &&
       (p[FFolder.size()] == '/' || p[FFolder.size()] == '\\')))
    return std::string(1, FLetter) + ":";
  return SystemDrives().DrivePart(path);
}

uint32_t TRemovableDriveDouble::LogicalDrives() {
  return SystemDrives().LogicalDrives() | (1u << (FLetter - 'A'));
}

uint32_t TRemovableDriveDouble::DriveType(const std::string& root) {
  if (IsMine(root)) return kDriveRemovable;
  return SystemDrives().DriveType(root);
}

bool TRemovableDriveDouble::VolumeInformation(const std::string& root, std::string& label,
                                              uint32_t& serial) {
  if (!IsMine(root)) return SystemDrives().VolumeInformation(root, label, serial);
  ++VolumeQueries;
  label.clear();
  serial = 0;
  if (!MediaPresent) {
    SetLastError(kErrNotReady);
    return false;
  }
  if (!Formatted) {
    SetLastError(kErrGenFailure);
    return false;
  }
  label = Label;
  serial = Serial;
  SetLastError(kErrSuccess);
  return true;
}

bool TRemovableDriveDouble::SetVolumeLabel(const std::string& root, const std::string& label) {
  if (!IsMine(root)) return SystemDrives().SetVolumeLabel(root, label);
  if (!MediaPresent) {
    SetLastError(kErrNotReady);
    return false;
  }
  if (ReadOnly) {
    SetLastError(kErrWriteProtect);
    return false;
  }
  Label = label;
  SetLastError(kErrSuccess);
  return true;
}

bool TRemovableDriveDouble::DiskFreeSpace(const std::string& root, TDiskGeometry& g) {
  if (!IsMine(root)) return SystemDrives().DiskFreeSpace(root, g);
  g = TDiskGeometry();
  if (!MediaPresent || !Formatted) {
    SetLastError(MediaPresent ? kErrGenFailure : kErrNotReady);
    return false;
  }
  g.BytesPerSector = BytesPerSector;
  g.SectorsPerCluster = SectorsPerCluster;
  const int64_t cluster = int64_t(BytesPerSector) * SectorsPerCluster;
  g.FreeClusters = cluster > 0 ? uint32_t(FreeBytes / cluster) : 0;
  g.TotalClusters = cluster > 0 ? uint32_t(TotalBytes / cluster) : 0;
  return true;
}

bool TRemovableDriveDouble::DiskFreeSpaceEx(const std::string& root, int64_t& freeToCaller,
                                            int64_t& total) {
  if (!IsMine(root)) return SystemDrives().DiskFreeSpaceEx(root, freeToCaller, total);
  freeToCaller = total = 0;
  if (!MediaPresent || !Formatted || ExtendedQueryFails) {
    SetLastError(ExtendedQueryFails ? kErrNotSupported : (MediaPresent ? kErrGenFailure : kErrNotReady));
    return false;
  }
  freeToCaller = FreeBytes;
  total = TotalBytes;
  return true;
}

uint32_t TRemovableDriveDouble::SetErrorMode(uint32_t mode) {
  const uint32_t prev = ErrorMode;
  ErrorMode = mode;
  ++ErrorModeChanges;
  return prev;
}

}  // namespace plat
