#include <windows.h>

#include <string>

#include "PlatFileMode.h"
#include "WinNames.h"

namespace plat {

namespace {

// Attributes of name itself (a link is not followed), or INVALID_FILE_ATTRIBUTES.
DWORD OwnAttributes(const std::wstring& name) { return ::GetFileAttributesW(name.c_str()); }

}  // namespace

uint32_t FileCreationMask() { return 0; }

bool SetModeNoFollow(const std::string& name, uint32_t mode) {
  const std::wstring w = win::WideFromUtf8(name);
  const DWORD attr = OwnAttributes(w);
  if (attr == INVALID_FILE_ATTRIBUTES) return false;
  if (attr & FILE_ATTRIBUTE_REPARSE_POINT) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (attr & FILE_ATTRIBUTE_DIRECTORY) return true;  // folders have no read-only state here
  const DWORD want =
      (mode & 0200) ? (attr & ~DWORD(FILE_ATTRIBUTE_READONLY)) : (attr | FILE_ATTRIBUTE_READONLY);
  return want == attr || ::SetFileAttributesW(w.c_str(), want);
}

bool ReadSmallFileNoFollow(const std::string& name, size_t maxBytes, std::string& data) {
  data.clear();
  HANDLE h = ::CreateFileW(win::WideFromUtf8(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = ::GetFileInformationByHandle(h, &info) &&
            !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
            info.nFileSizeHigh == 0 && info.nFileSizeLow <= maxBytes;
  if (ok) {
    data.resize(info.nFileSizeLow);
    DWORD got = 0;
    ok =
        data.empty() || (::ReadFile(h, data.data(), DWORD(data.size()), &got, nullptr) && got == data.size());
  } else {
    ::SetLastError(ERROR_ACCESS_DENIED);
  }
  ::CloseHandle(h);
  return ok;
}

bool CreateSymLink(const std::string& target, const std::string& name) {
  std::wstring t = win::WideFromUtf8(target);
  for (wchar_t& c : t)
    if (c == L'/') c = L'\\';
  constexpr DWORD kUnprivileged = 0x2;  // allowed in developer mode
  return ::CreateSymbolicLinkW(win::WideFromUtf8(name).c_str(), t.c_str(), kUnprivileged) != 0;
}

}  // namespace plat
