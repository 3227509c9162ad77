// Files through the system's handles, opened by wide name.
#include <windows.h>

#include "PlatFile.h"
#include "WinNames.h"

namespace plat {

namespace {

HANDLE H(THandle h) { return reinterpret_cast<HANDLE>(h); }

// Where a positioned read or write starts.
OVERLAPPED At(uint64_t pos) {
  OVERLAPPED at{};
  at.Offset = DWORD(pos);
  at.OffsetHigh = DWORD(pos >> 32);
  return at;
}

constexpr DWORD kAccess[4] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, 0};
constexpr DWORD kShare[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};

}  // namespace

namespace win {

THandle OpenWide(const std::wstring& name, uint32_t mode) {
  const DWORD access = kAccess[mode & 3];
  const uint32_t share = (mode & 0xF0) >> 4;
  if (name.empty() || access == 0 || share > 4) {
    ::SetLastError(name.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return kInvalidHandle;
  }
  HANDLE h = ::CreateFileW(name.c_str(), access, kShare[share], nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  // Devices (CON, COM1, pipes) are no files of a disk.
  if ((mode & fmRegularOnly) && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return kInvalidHandle;
  }
  return reinterpret_cast<THandle>(h);
}

THandle CreateWide(const std::wstring& name, bool only_new) {
  if (name.empty()) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return kInvalidHandle;
  }
  // CREATE_NEW fails on any existing name, a link included (it is not followed).
  HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           only_new ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<THandle>(h);
}

}  // namespace win

THandle FileOpen(const std::string& name, uint32_t mode) { return win::OpenWide(win::Wide(name), mode); }

THandle FileCreate(const std::string& name) { return win::CreateWide(win::Wide(name), false); }

THandle FileCreateNew(const std::string& name) { return win::CreateWide(win::Wide(name), true); }

// Windows names a file when it is created; the callers write to a named temporary
// file instead.
THandle FileCreateUnnamed(const std::string&) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return kInvalidHandle;
}

bool FileLinkUnnamed(THandle, const std::string&) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

// Windows reaches a file only through a name it was given.
std::string FileHandleName(THandle) { return {}; }

namespace {

// Reads count bytes from the file position, or with at from *at on; fewer only at the
// end, -1 when nothing could be read.
int ReadAll(THandle h, void* buffer, int count, const uint64_t* at) {
  if (h == kInvalidHandle || count < 0) return -1;
  auto* p = static_cast<char*>(buffer);
  int done = 0;
  while (done < count) {
    OVERLAPPED pos = At(at ? *at + uint64_t(done) : 0);
    DWORD n = 0;
    if (!::ReadFile(H(h), p + done, DWORD(count - done), &n, at ? &pos : nullptr)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += int(n);
  }
  return done;
}

// Writes count bytes at the file position, or with at from *at on.
int WriteAll(THandle h, const void* buffer, int count, const uint64_t* at) {
  if (h == kInvalidHandle || count < 0) return -1;
  const auto* p = static_cast<const char*>(buffer);
  int done = 0;
  while (done < count) {
    OVERLAPPED pos = At(at ? *at + uint64_t(done) : 0);
    DWORD n = 0;
    if (!::WriteFile(H(h), p + done, DWORD(count - done), &n, at ? &pos : nullptr) || n == 0)
      return done > 0 ? done : -1;
    done += int(n);
  }
  return done;
}

}  // namespace

int FileRead(THandle h, void* buffer, int count) { return ReadAll(h, buffer, count, nullptr); }

int FileReadAt(THandle h, void* buffer, int count, uint64_t offset) {
  return ReadAll(h, buffer, count, &offset);
}

int FileWrite(THandle h, const void* buffer, int count) { return WriteAll(h, buffer, count, nullptr); }

int FileWriteAt(THandle h, const void* buffer, int count, uint64_t offset) {
  return WriteAll(h, buffer, count, &offset);
}

int64_t FileSeek(THandle h, int64_t offset, int origin) {
  if (h == kInvalidHandle) return -1;
  const DWORD method = origin == soCurrent ? FILE_CURRENT : origin == soEnd ? FILE_END : FILE_BEGIN;
  LARGE_INTEGER dist, pos;
  dist.QuadPart = offset;
  if (!::SetFilePointerEx(H(h), dist, &pos, method)) return -1;
  return pos.QuadPart;
}

bool FileSetEnd(THandle h) { return h != kInvalidHandle && ::SetEndOfFile(H(h)) != 0; }

bool FileFlush(THandle h) { return h != kInvalidHandle && ::FlushFileBuffers(H(h)) != 0; }

bool FileClose(THandle h) { return h != kInvalidHandle && ::CloseHandle(H(h)) != 0; }

}  // namespace plat
