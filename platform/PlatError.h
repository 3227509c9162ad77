// The platform's last-error value, with the Windows numbering that callers test for,
// and its text.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace plat {

inline constexpr uint32_t kErrSuccess = 0;
inline constexpr uint32_t kErrInvalidFunction = 1;
inline constexpr uint32_t kErrFileNotFound = 2;
inline constexpr uint32_t kErrPathNotFound = 3;
inline constexpr uint32_t kErrTooManyOpenFiles = 4;
inline constexpr uint32_t kErrAccessDenied = 5;
inline constexpr uint32_t kErrInvalidHandle = 6;
inline constexpr uint32_t kErrNotEnoughMemory = 8;
inline constexpr uint32_t kErrNoMoreFiles = 18;
inline constexpr uint32_t kErrWriteProtect = 19;
inline constexpr uint32_t kErrSharingViolation = 32;
inline constexpr uint32_t kErrHandleEof = 38;
inline constexpr uint32_t kErrNotSupported = 50;
inline constexpr uint32_t kErrFileExists = 80;
inline constexpr uint32_t kErrInvalidParameter = 87;
inline constexpr uint32_t kErrBrokenPipe = 109;  // a pipe's writer has closed it (its end)
inline constexpr uint32_t kErrDiskFull = 112;
inline constexpr uint32_t kErrInsufficientBuffer = 122;
inline constexpr uint32_t kErrInvalidName = 123;
inline constexpr uint32_t kErrDirNotEmpty = 145;
inline constexpr uint32_t kErrBusy = 170;
inline constexpr uint32_t kErrAlreadyExists = 183;
inline constexpr uint32_t kErrFilenameTooLong = 206;
inline constexpr uint32_t kErrDirectory = 267;
inline constexpr uint32_t kErrNoUnicodeTranslation = 1113;

// The calling thread's last error.
uint32_t GetLastError();
void SetLastError(uint32_t code);
// The text of an error number (an English sentence without a trailing newline).
std::string SysErrorMessage(uint32_t code);

// The exception raised for a failed platform call; its text is the error's text.
class EPlatError : public std::runtime_error {
 public:
  explicit EPlatError(uint32_t code);
  uint32_t ErrorCode() const { return FCode; }

 private:
  uint32_t FCode;
};

// Raises EPlatError for the calling thread's last error.
[[noreturn]] void RaiseLastError();

}  // namespace plat
