#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "PlatError.h"
#include "PosixErr.h"

namespace plat {

namespace {
thread_local uint32_t tLastError = 0;

struct TErrText {
  uint32_t Code;
  const char* Text;
};
const TErrText kTexts[] = {
    {kErrSuccess, "The operation completed successfully"},
    {kErrInvalidFunction, "Incorrect function"},
    {kErrFileNotFound, "The system cannot find the file specified"},
    {kErrPathNotFound, "The system cannot find the path specified"},
    {kErrTooManyOpenFiles, "The system cannot open the file"},
    {kErrAccessDenied, "Access is denied"},
    {kErrInvalidHandle, "The handle is invalid"},
    {kErrNotEnoughMemory, "Not enough storage is available to process this command"},
    {kErrNoMoreFiles, "There are no more files"},
    {kErrWriteProtect, "The media is write protected"},
    {kErrSharingViolation, "The process cannot access the file because it is being used by another process"},
    {kErrHandleEof, "Reached the end of the file"},
    {kErrNotSupported, "The request is not supported"},
    {kErrFileExists, "The file exists"},
    {kErrInvalidParameter, "The parameter is incorrect"},
    {kErrDiskFull, "There is not enough space on the disk"},
    {kErrInsufficientBuffer, "The data area passed to a system call is too small"},
    {kErrInvalidName, "The filename, directory name, or volume label syntax is incorrect"},
    {kErrDirNotEmpty, "The directory is not empty"},
    {kErrBusy, "The requested resource is in use"},
    {kErrAlreadyExists, "Cannot create a file when that file already exists"},
    {kErrFilenameTooLong, "The filename or extension is too long"},
    {kErrDirectory, "The directory name is invalid"},
    {kErrNoUnicodeTranslation,
     "No mapping for the Unicode character exists in the target multi-byte code page"},
};
}  // namespace

uint32_t GetLastError() { return tLastError; }
void SetLastError(uint32_t code) { tLastError = code; }

std::string SysErrorMessage(uint32_t code) {
  for (const auto& t : kTexts)
    if (t.Code == code) return t.Text;
  if (code & 0x20000000u) return std::strerror(int(code & 0xFFFFu));
  return "System error " + std::to_string(code);
}

EPlatError::EPlatError(uint32_t code)
    : std::runtime_error("System Error.  Code: " + std::to_string(code) + ".\n" + SysErrorMessage(code)),
      FCode(code) {}

void RaiseLastError() { throw EPlatError(GetLastError()); }

namespace posix {

uint32_t ErrorFromErrno(int e) {
  switch (e) {
    case 0: return kErrSuccess;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrAccessDenied;
    case EROFS: return kErrWriteProtect;
    case EBADF: return kErrInvalidHandle;
    case ENOMEM: return kErrNotEnoughMemory;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    case EEXIST: return kErrAlreadyExists;
    case EINVAL: return kErrInvalidParameter;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    case ENAMETOOLONG: return kErrFilenameTooLong;
    case ENOTEMPTY: return kErrDirNotEmpty;
    case EBUSY:
    case ETXTBSY: return kErrBusy;
    case EILSEQ: return kErrNoUnicodeTranslation;
    case ENOSYS:
    case EOPNOTSUPP: return kErrNotSupported;
    case EXDEV: return 17;                      // not same device
    default: return 0x20000000u | uint32_t(e);  // customer bit: a raw errno
  }
}

void SetErrorFromErrno(int e, const std::string& path) {
  uint32_t code = ErrorFromErrno(e);
  if (e == ENOENT && !path.empty()) {
    // Missing folder on the way: "path not found".
    std::string dir;
    auto p = path.find_last_of('/');
    if (p != std::string::npos) dir = p == 0 ? std::string("/") : path.substr(0, p);
    struct stat st;
    if (!dir.empty() && (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) code = kErrPathNotFound;
  }
  tLastError = code;
}

}  // namespace posix
}  // namespace plat
