// The simulated removable drive.
#include "PlatDriveDouble.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

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

namespace fs = std::filesystem;

// Moves every entry of from into to (created when missing).
void MoveEntries(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const auto& e : fs::directory_iterator(from, ec)) {
    std::error_code ec2;
    fs::rename(e.path(), fs::path(to) / e.path().filename(), ec2);
  }
}

void EmptyFolder(const std::string& folder) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    std::error_code ec2;
    fs::remove_all(e.path(), ec2);
  }
}

}  // namespace

TRemovableDriveDouble::TRemovableDriveDouble(std::string folder, char letter)
    : FFolder(Normalised(folder)), FLetter(char(std::toupper(static_cast<unsigned char>(letter)))) {}

TRemovableDriveDouble::~TRemovableDriveDouble() {
  std::error_code ec;
  if (!FMedia.empty()) fs::remove_all(FFolder + ".media", ec);
}

int TRemovableDriveDouble::AddMedium(const std::string& label, int64_t totalBytes) {
  TMedium m;
  m.Label = label;
  m.Serial = 0x5000 + uint32_t(FMedia.size());
  m.TotalBytes = m.FreeBytes = totalBytes;
  m.Shelf = FFolder + ".media" + PathDelimStr + std::to_string(FMedia.size());
  std::error_code ec;
  fs::create_directories(m.Shelf, ec);
  FMedia.push_back(m);
  return int(FMedia.size()) - 1;
}

void TRemovableDriveDouble::Insert(int k) {
  if (k == FInserted && k >= 0) return;
  if (FInserted >= 0) {
    TMedium& out = FMedia[size_t(FInserted)];
    static_cast<TMediumFacts&>(out) = *this;
    MoveEntries(FFolder, out.Shelf);
  }
  FInserted = (k >= 0 && k < int(FMedia.size())) ? k : -1;
  MediaPresent = FInserted >= 0;
  if (FInserted < 0) return;
  const TMedium& in = FMedia[size_t(FInserted)];
  static_cast<TMediumFacts&>(*this) = in;
  MoveEntries(in.Shelf, FFolder);
}

std::vector<std::string> TRemovableDriveDouble::FilesOf(int k) const {
  std::vector<std::string> names;
  if (k < 0 || k >= int(FMedia.size())) return names;
  const std::string where = k == FInserted ? FFolder : FMedia[size_t(k)].Shelf;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(where, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int64_t TRemovableDriveDouble::UsedBytes() const {
  const int64_t cluster = std::max<int64_t>(int64_t(BytesPerSector) * SectorsPerCluster, 1);
  int64_t used = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(FFolder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ec2;
    if (!it->is_regular_file(ec2)) continue;
    const auto size = int64_t(it->file_size(ec2));
    if (!ec2) used += (size + cluster - 1) / cluster * cluster;
  }
  return used;
}

int64_t TRemovableDriveDouble::Free() const {
  if (!FreeFromFiles) return FreeBytes;
  return std::max<int64_t>(TotalBytes - UsedBytes(), 0);
}

bool TRemovableDriveDouble::FormatDrive(const std::string& root) {
  if (!IsMine(root)) return SystemDrives().FormatDrive(root);
  ++Formats;
  switch (FormatAnswer) {
    case fmtNotOffered: SetLastError(kErrNotSupported); return false;
    case fmtDeclined: SetLastError(kErrCancelled); return false;
    case fmtFails: SetLastError(MediaPresent ? kErrWriteProtect : kErrNotReady); return false;
    case fmtDone: break;
  }
  if (!MediaPresent || ReadOnly) {
    SetLastError(MediaPresent ? kErrWriteProtect : kErrNotReady);
    return false;
  }
  EmptyFolder(FFolder);
  Formatted = true;
  Label.clear();
  FreeBytes = TotalBytes;
  SetLastError(kErrSuccess);
  return true;
}

std::string TRemovableDriveDouble::Root() const { return std::string(1, FLetter) + ":" + PathDelimStr; }

bool TRemovableDriveDouble::IsMine(const std::string& root) const {
  if (root.size() < 2 || root[1] != ':') return false;
  if (std::toupper(static_cast<unsigned char>(root[0])) != FLetter) return false;
  return root.size() == 2 || (root.size() == 3 && (root[2] == '/' || root[2] == '\\'));
}

std::string TRemovableDriveDouble::DrivePart(const std::string& path) {
  const std::string p = Normalised(path);
  if (p == FFolder || (p.size() > FFolder.size() && p.compare(0, FFolder.size(), FFolder) == 0 &&
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

bool TRemovableDriveDouble::VolumeInformation(const std::string& root, std::string& label, uint32_t& serial) {
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
  g.FreeClusters = cluster > 0 ? uint32_t(Free() / cluster) : 0;
  g.TotalClusters = cluster > 0 ? uint32_t(TotalBytes / cluster) : 0;
  return true;
}

bool TRemovableDriveDouble::DiskFreeSpaceEx(const std::string& root, int64_t& freeToCaller, int64_t& total) {
  if (!IsMine(root)) return SystemDrives().DiskFreeSpaceEx(root, freeToCaller, total);
  freeToCaller = total = 0;
  if (!MediaPresent || !Formatted || ExtendedQueryFails) {
    SetLastError(ExtendedQueryFails ? kErrNotSupported : (MediaPresent ? kErrGenFailure : kErrNotReady));
    return false;
  }
  freeToCaller = Free();
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
