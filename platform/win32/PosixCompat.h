// The few C library calls of POSIX that the test suites use, for Windows builds of
// the tests (force-included there): environment, temporary folders, broken-down time.
#pragma once
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <sys/utime.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!name || !*name || std::strchr(name, '=') || !value) {
    errno = EINVAL;
    return -1;
  }
  if (!overwrite && std::getenv(name)) return 0;
  // An empty value would remove the variable on Windows; a blank stands in for it.
  return _putenv_s(name, *value ? value : " ") == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
  if (!name || !*name || std::strchr(name, '=')) {
    errno = EINVAL;
    return -1;
  }
  return _putenv_s(name, "") == 0 ? 0 : -1;
}

// Replaces the trailing "XXXXXX" and creates the folder; null on failure.
inline char* mkdtemp(char* tmpl) {
  size_t n = tmpl ? std::strlen(tmpl) : 0;
  if (n < 6 || std::strcmp(tmpl + n - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static unsigned seed = unsigned(std::time(nullptr)) ^ unsigned(_getpid()) * 2654435761u;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    for (size_t i = n - 6; i < n; ++i) {
      seed = seed * 1103515245u + 12345u;
      tmpl[i] = kChars[(seed >> 16) % 36];
    }
    if (_mkdir(tmpl) == 0) return tmpl;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

inline std::tm* gmtime_r(const std::time_t* t, std::tm* out) { return gmtime_s(out, t) == 0 ? out : nullptr; }

inline std::tm* localtime_r(const std::time_t* t, std::tm* out) {
  return localtime_s(out, t) == 0 ? out : nullptr;
}
// std::system gives the program's exit code on Windows.
#ifndef WIFEXITED
#define WIFEXITED(rc) ((rc) != -1)
#define WEXITSTATUS(rc) (rc)
#endif

// utimensat for paths (dirfd AT_FDCWD): UTIME_OMIT keeps a time, UTIME_NOW takes now.
#ifndef AT_FDCWD
#define AT_FDCWD (-100)
#define UTIME_NOW ((1l << 30) - 1l)
#define UTIME_OMIT ((1l << 30) - 2l)
#endif
inline int utimensat(int dirfd, const char* path, const struct timespec times[2], int flags) {
  (void)flags;
  if (dirfd != AT_FDCWD || !path) {
    errno = EINVAL;
    return -1;
  }
  struct _stat64 st {};
  if (_stat64(path, &st) != 0) return -1;
  __time64_t value[2] = {st.st_atime, st.st_mtime};
  for (int i = 0; i < 2; ++i) {
    if (times && times[i].tv_nsec == UTIME_OMIT) continue;
    value[i] = (!times || times[i].tv_nsec == UTIME_NOW) ? _time64(nullptr) : __time64_t(times[i].tv_sec);
  }
  struct __utimbuf64 buf {
    value[0], value[1]
  };
  return _utime64(path, &buf);
}
#endif
