// Windows drives: letters, drive types, volume labels and free space from the system.
#include <windows.h>

#include <shlobj.h>

#include "PlatDrive.h"
#include "PlatError.h"
#include "PlatUi.h"
#include "WinNames.h"

namespace plat {

namespace {

bool IsDelim(char c) { return c == '\\' || c == '/'; }

// A root as the volume calls want it: "C:" becomes "C:\".
std::wstring RootOf(const std::string& root) {
  std::wstring w = win::Wide(root);
  if (w.size() == 2 && w[1] == L':') w.push_back(L'\\');
  if (!w.empty() && w.back() != L'\\' && w.back() != L'/') w.push_back(L'\\');
  return w;
}

const wchar_t* RootOrNull(const std::wstring& w) { return w.empty() ? nullptr : w.c_str(); }

class TWinDrives : public TDriveLayer {
 public:
  std::string DrivePart(const std::string& path) override {
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
      return path.substr(0, 2);
    if (path.size() > 2 && IsDelim(path[0]) && IsDelim(path[1])) {
      // "\\server\share": up to the delimiter after the share.
      size_t server = path.find_first_of("\\/", 2);
      if (server == std::string::npos || server == 2) return {};
      size_t share = path.find_first_of("\\/", server + 1);
      if (share == server + 1) return {};
      return path.substr(0, share);
    }
    return {};
  }
  uint32_t LogicalDrives() override { return ::GetLogicalDrives(); }
  uint32_t DriveType(const std::string& root) override {
    std::wstring w = RootOf(root);
    return ::GetDriveTypeW(RootOrNull(w));
  }
  bool VolumeInformation(const std::string& root, std::string& label, uint32_t& serial) override {
    std::wstring w = RootOf(root);
    wchar_t name[MAX_PATH + 1] = {};
    DWORD ser = 0, maxLen = 0, flags = 0;
    label.clear();
    serial = 0;
    if (!::GetVolumeInformationW(RootOrNull(w), name, MAX_PATH + 1, &ser, &maxLen, &flags, nullptr, 0))
      return false;
    label = win::Narrow(name);
    serial = ser;
    return true;
  }
  bool SetVolumeLabel(const std::string& root, const std::string& label) override {
    std::wstring w = RootOf(root), l = win::Wide(label);
    return ::SetVolumeLabelW(RootOrNull(w), label.empty() ? nullptr : l.c_str()) != 0;
  }
  bool DiskFreeSpace(const std::string& root, TDiskGeometry& g) override {
    std::wstring w = RootOf(root);
    DWORD spc = 0, bps = 0, fc = 0, tc = 0;
    g = TDiskGeometry();
    if (!::GetDiskFreeSpaceW(RootOrNull(w), &spc, &bps, &fc, &tc)) return false;
    g.SectorsPerCluster = spc;
    g.BytesPerSector = bps;
    g.FreeClusters = fc;
    g.TotalClusters = tc;
    return true;
  }
  bool DiskFreeSpaceEx(const std::string& root, int64_t& freeToCaller, int64_t& total) override {
    std::wstring w = RootOf(root);
    ULARGE_INTEGER avail, tot, totalFree;
    freeToCaller = total = 0;
    if (!::GetDiskFreeSpaceExW(RootOrNull(w), &avail, &tot, &totalFree)) return false;
    freeToCaller = int64_t(avail.QuadPart & 0x7FFFFFFFFFFFFFFFull);
    total = int64_t(tot.QuadPart & 0x7FFFFFFFFFFFFFFFull);
    return true;
  }
  uint32_t SetErrorMode(uint32_t mode) override { return ::SetErrorMode(mode); }

  // The shell's format dialog for a drive letter's root, owned by the main window.
  bool FormatDrive(const std::string& root) override {
    if (root.size() < 2 || root[1] != ':') {
      ::SetLastError(ERROR_INVALID_DRIVE);
      return false;
    }
    char letter = root[0];
    if (letter >= 'a' && letter <= 'z') letter = char(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') {
      ::SetLastError(ERROR_INVALID_DRIVE);
      return false;
    }
    HWND owner = reinterpret_cast<HWND>(Ui().MainWindow());
    DWORD r = ::SHFormatDrive(owner, UINT(letter - 'A'), SHFMT_ID_DEFAULT, SHFMT_OPT_FULL);
    if (r == SHFMT_CANCEL) {
      ::SetLastError(kErrCancelled);
      return false;
    }
    if (r == SHFMT_ERROR || r == SHFMT_NOFORMAT) {
      if (::GetLastError() == 0) ::SetLastError(r == SHFMT_NOFORMAT ? kErrNotSupported : ERROR_GEN_FAILURE);
      return false;
    }
    return true;
  }
};

}  // namespace

TDriveLayer& SystemDrives() {
  static TWinDrives drives;
  return drives;
}

}  // namespace plat
