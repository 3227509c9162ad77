#include "PlatFileMode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "PlatError.h"
#include "PosixErr.h"

namespace plat {

uint32_t FileCreationMask() {
  // The mask can only be read by setting it; threads that make files meanwhile would
  // get the other value, so the two steps are kept together.
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  const mode_t old = ::umask(077);
  ::umask(old);
  return uint32_t(old);
}

namespace {

// The file name opened without following a link at it; -1 with the last error set.
int OpenNoFollow(const std::string& name) {
  for (;;) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno == EINTR) continue;
    posix::SetErrorFromErrno(errno == ELOOP ? EACCES : errno, name);
    return -1;
  }
}

}  // namespace

bool SetModeNoFollow(const std::string& name, uint32_t mode) {
  const int fd = OpenNoFollow(name);
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, mode_t(mode & 07777)) == 0;
  if (!ok) posix::SetErrorFromErrno(errno, name);
  ::close(fd);
  return ok;
}

bool ReadSmallFileNoFollow(const std::string& name, size_t maxBytes, std::string& data) {
  data.clear();
  const int fd = OpenNoFollow(name);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= maxBytes;
  if (ok) {
    data.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
      const ssize_t r = ::read(fd, data.data() + got, data.size() - got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += size_t(r);
    }
    ok = got == data.size();
  } else {
    SetLastError(kErrAccessDenied);
  }
  ::close(fd);
  return ok;
}

bool CreateSymLink(const std::string& target, const std::string& name) {
  if (::symlink(target.c_str(), name.c_str()) == 0) return true;
  if (errno == EEXIST)
    SetLastError(kErrFileExists);
  else
    posix::SetErrorFromErrno(errno, name);
  return false;
}

}  // namespace plat
