// POSIX drives: paths have no drive letter; every root is a fixed drive whose space
// comes from statvfs.
#include <sys/statvfs.h>

#include <cerrno>
#include <limits>

#include "PlatDrive.h"
#include "PlatError.h"
#include "PosixErr.h"

namespace plat {

namespace {

uint32_t Clamp32(uint64_t v) {
  return v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : uint32_t(v);
}

int64_t Clamp64(unsigned long long v) {
  return v > uint64_t(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max() : int64_t(v);
}

bool StatRoot(const std::string& root, struct statvfs& sv) {
  const std::string path = root.empty() ? std::string("/") : root;
  if (::statvfs(path.c_str(), &sv) != 0) {
    posix::SetErrorFromErrno(errno, path);
    return false;
  }
  SetLastError(kErrSuccess);
  return true;
}

class TPosixDrives : public TDriveLayer {
 public:
  std::string DrivePart(const std::string&) override { return std::string(); }
  uint32_t LogicalDrives() override { return 0; }
  uint32_t DriveType(const std::string& root) override {
    struct statvfs sv;
    return StatRoot(root, sv) ? kDriveFixed : kDriveNoRootDir;
  }
  bool VolumeInformation(const std::string& root, std::string& label, uint32_t& serial) override {
    struct statvfs sv;
    label.clear();
    serial = 0;
    if (!StatRoot(root, sv)) return false;
    serial = uint32_t(sv.f_fsid);
    return true;
  }
  bool SetVolumeLabel(const std::string&, const std::string&) override {
    SetLastError(kErrNotSupported);
    return false;
  }
  bool DiskFreeSpace(const std::string& root, TDiskGeometry& g) override {
    struct statvfs sv;
    g = TDiskGeometry();
    if (!StatRoot(root, sv)) return false;
    // Sectors of 512 bytes; a cluster is one fragment of the file system.
    const uint64_t frag = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
    g.BytesPerSector = 512;
    g.SectorsPerCluster = frag >= 512 ? uint32_t(frag / 512) : 1;
    g.FreeClusters = Clamp32(sv.f_bavail);
    g.TotalClusters = Clamp32(sv.f_blocks);
    return true;
  }
  bool DiskFreeSpaceEx(const std::string& root, int64_t& freeToCaller, int64_t& total) override {
    struct statvfs sv;
    freeToCaller = total = 0;
    if (!StatRoot(root, sv)) return false;
    const unsigned long long frag = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
    freeToCaller = Clamp64((unsigned long long)sv.f_bavail * frag);
    total = Clamp64((unsigned long long)sv.f_blocks * frag);
    return true;
  }
  uint32_t SetErrorMode(uint32_t mode) override {
    const uint32_t prev = FMode;
    FMode = mode;
    return prev;
  }

 private:
  uint32_t FMode = 0;
};

}  // namespace

TDriveLayer& SystemDrives() {
  static TPosixDrives drives;
  return drives;
}

}  // namespace plat
