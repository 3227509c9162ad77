#include "PlatFile.h"

#include "PlatError.h"
#include "PosixErr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace plat {

THandle FileOpen(const std::string& name, uint32_t mode) {
  int flags;
  switch (mode & 3) {
    case 0: flags = O_RDONLY; break;
    case 1: flags = O_WRONLY; break;
    case 2: flags = O_RDWR; break;
    default: SetLastError(kErrInvalidParameter); return kInvalidHandle;
  }
  // Opening a FIFO waits for a writer and a device may answer the open itself: only
  // a non-blocking open does neither.
  const bool regularOnly = (mode & fmRegularOnly) != 0;
  if (regularOnly) flags |= O_NONBLOCK | O_NOCTTY;
  int fd = ::open(name.c_str(), flags | O_CLOEXEC);
  if (fd < 0) {
    posix::SetErrorFromErrno(errno, name);
    return kInvalidHandle;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (regularOnly && !S_ISREG(st.st_mode)) ||
      (regularOnly && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
    ::close(fd);
    SetLastError(kErrAccessDenied);
    return kInvalidHandle;
  }
  return fd;
}

THandle FileCreate(const std::string& name) {
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    posix::SetErrorFromErrno(errno, name);
    return kInvalidHandle;
  }
  return fd;
}

namespace {
// The error of making a file or link of that name: a name taken gets the system's own
// code for it, as CREATE_NEW reports it.
void SetNameError(int err, const std::string& name) {
  if (err == EEXIST)
    SetLastError(kErrFileExists);
  else
    posix::SetErrorFromErrno(err, name);
}
}  // namespace

THandle FileCreateNew(const std::string& name) {
  for (;;) {
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno == EINTR) continue;
    SetNameError(errno, name);
    return kInvalidHandle;
  }
}

namespace {
// ZM_NO_UNNAMED_FILES set in the environment makes this system behave as one whose
// file systems have no files without a name (NFS, vfat, FUSE), for tests.
bool UnnamedFilesRefused() {
  static const bool refused = [] {
    const char* v = std::getenv("ZM_NO_UNNAMED_FILES");
    return v && *v && *v != '0';
  }();
  return refused;
}
}  // namespace

THandle FileCreateUnnamed(const std::string& folder) {
  if (UnnamedFilesRefused()) {
    SetLastError(kErrNotSupported);
    return kInvalidHandle;
  }
#ifdef O_TMPFILE
  for (;;) {
    const int fd = ::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno == EINTR) continue;
    // Kernels and file systems without unnamed files answer in several ways.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
      SetLastError(kErrNotSupported);
    else
      posix::SetErrorFromErrno(errno, folder);
    return kInvalidHandle;
  }
#else
  (void)folder;
  SetLastError(kErrNotSupported);
  return kInvalidHandle;
#endif
}

bool FileLinkUnnamed(THandle h, const std::string& name) {
#ifdef O_TMPFILE
  // Through the handle's entry in /proc; a process that may link any open file can
  // do without it.
  const std::string proc = "/proc/self/fd/" + std::to_string(h);
  int r = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
  if (r != 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0)
    r = ::linkat(int(h), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
  if (r == 0) return true;
  SetNameError(errno, name);
  return false;
#else
  (void)h;
  (void)name;
  SetLastError(kErrNotSupported);
  return false;
#endif
}

std::string FileHandleName(THandle h) {
  if (h < 0) return {};
  std::string name = "/proc/self/fd/" + std::to_string(h);
  return ::access(name.c_str(), F_OK) == 0 ? name : std::string();
}

namespace {

// Moves count bytes in as many steps as the system needs: step(done) moves what it
// can from byte done on and answers as read and write do. Interrupted steps are
// repeated; a step that moves nothing (the end of a file) ends the transfer, and a
// failure after some bytes answers those bytes. A failure sets the last error, so
// that a short count tells its cause (a full disk) rather than an earlier one.
template <class TStep>
int Transfer(int count, TStep step) {
  int done = 0;
  while (done < count) {
    const ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      posix::SetErrorFromErrno(errno);
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += int(n);
  }
  return done;
}

}  // namespace

int FileRead(THandle h, void* buffer, int count) {
  if (h < 0 || count < 0) return -1;
  auto* p = static_cast<char*>(buffer);
  return Transfer(count, [&](int done) { return ::read(int(h), p + done, size_t(count - done)); });
}

int FileReadAt(THandle h, void* buffer, int count, uint64_t offset) {
  if (h < 0 || count < 0 || offset > uint64_t(INT64_MAX)) return -1;
  auto* p = static_cast<char*>(buffer);
  return Transfer(count, [&](int done) {
    return ::pread(int(h), p + done, size_t(count - done), off_t(offset + uint64_t(done)));
  });
}

int FileWrite(THandle h, const void* buffer, int count) {
  if (h < 0 || count < 0) return -1;
  const auto* p = static_cast<const char*>(buffer);
  return Transfer(count, [&](int done) { return ::write(int(h), p + done, size_t(count - done)); });
}

int FileWriteAt(THandle h, const void* buffer, int count, uint64_t offset) {
  if (h < 0 || count < 0 || offset > uint64_t(INT64_MAX)) return -1;
  const auto* p = static_cast<const char*>(buffer);
  return Transfer(count, [&](int done) {
    return ::pwrite(int(h), p + done, size_t(count - done), off_t(offset + uint64_t(done)));
  });
}

int64_t FileSeek(THandle h, int64_t offset, int origin) {
  if (h < 0) return -1;
  int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
  off_t r = ::lseek(int(h), off_t(offset), whence);
  return r < 0 ? -1 : int64_t(r);
}

bool FileSetEnd(THandle h) {
  if (h < 0) return false;
  off_t pos = ::lseek(int(h), 0, SEEK_CUR);
  return pos >= 0 && ::ftruncate(int(h), pos) == 0;
}

bool FileFlush(THandle h) {
  if (h < 0) {
    SetLastError(kErrInvalidHandle);
    return false;
  }
  while (::fsync(int(h)) != 0) {
    if (errno == EINTR) continue;
    posix::SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool FileClose(THandle h) { return h >= 0 && ::close(int(h)) == 0; }

}  // namespace plat
