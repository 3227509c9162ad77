// Deletion to the user's trash can as the freedesktop.org desktops keep it: the file
// moves into $XDG_DATA_HOME/Trash/files (default ~/.local/share/Trash) and a
// .trashinfo file in Trash/info records where it came from and when.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <cstring>

#include "PlatError.h"
#include "PlatFileSys.h"
#include "PosixErr.h"

namespace plat {

namespace {

bool MakeDirs(const std::string& path, mode_t mode) {
  std::string cur;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    cur = path.substr(0, next);
    if (!cur.empty() && ::mkdir(cur.c_str(), mode) != 0 && errno != EEXIST) return false;
    pos = next + 1;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TrashRoot() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/share/Trash";
  return {};
}

// Escapes a path for the Path= key: every byte but unreserved ones and '/'.
std::string UrlEscape(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(char(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string AbsolutePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::string cwd = CurrentFolder();
  if (cwd.empty()) return {};
  std::string rel = name;
  while (rel.size() > 2 && rel.compare(0, 2, "./") == 0) rel.erase(0, 2);
  return cwd == "/" ? "/" + rel : cwd + "/" + rel;
}

bool WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// Copies a regular file (for a trash on another file system); keeps the times.
bool CopyFile(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    errno = EXDEV;
    return false;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    ::close(in);
    return false;
  }
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(out, std::string(buf, size_t(n)))) {
      ok = false;
      break;
    }
  }
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(out, times);
  int e = errno;
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) {
    ::unlink(to.c_str());
    errno = e;
  }
  return ok;
}

// A place in the trash claimed for one file: its .trashinfo is written, its place in
// Trash/files is still free.
struct TTrashSlot {
  std::string Abs;   // the file's absolute path
  std::string File;  // its place in Trash/files
  std::string Info;  // its .trashinfo
  void Drop() const { ::unlink(Info.c_str()); }
};

// Claims a slot for name, which must exist: 0 or an error number.
uint32_t ClaimTrashSlot(const std::string& name, TTrashSlot& slot) {
  if (name.empty() || name.find('\0') != std::string::npos) return kErrInvalidName;
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0) {
    posix::SetErrorFromErrno(errno, name);
    return GetLastError();
  }
  slot.Abs = AbsolutePath(name);
  std::string root = TrashRoot();
  if (slot.Abs.empty() || root.empty()) return kErrPathNotFound;
  const std::string filesDir = root + "/files";
  const std::string infoDir = root + "/info";
  if (!MakeDirs(filesDir, 0700) || !MakeDirs(infoDir, 0700)) {
    posix::SetErrorFromErrno(errno);
    return GetLastError() ? GetLastError() : kErrAccessDenied;
  }
  std::string base = slot.Abs;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  base = base.substr(base.find_last_of('/') + 1);
  if (base.empty() || base == "." || base == "..") return kErrInvalidName;

  // Claim a free name by creating its .trashinfo exclusively.
  std::string trashName;
  int fd = -1;
  for (int n = 1; n < 10000 && fd < 0; ++n) {
    trashName = n == 1 ? base : base + "." + std::to_string(n);
    slot.Info = infoDir + "/" + trashName + ".trashinfo";
    struct stat tst;
    if (::lstat((filesDir + "/" + trashName).c_str(), &tst) == 0) continue;
    fd = ::open(slot.Info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) {
      posix::SetErrorFromErrno(errno);
      return GetLastError();
    }
  }
  if (fd < 0) return kErrFileExists;

  time_t now = ::time(nullptr);
  struct tm lt {};
  localtime_r(&now, &lt);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &lt);
  std::string info = "[Trash Info]\nPath=" + UrlEscape(slot.Abs) + "\nDeletionDate=" + date + "\n";
  bool written = WriteAll(fd, info);
  ::close(fd);
  if (!written) {
    slot.Drop();
    return kErrDiskFull;
  }
  slot.File = filesDir + "/" + trashName;
  return kErrSuccess;
}

}  // namespace

uint32_t FileDeleteToTrash(const std::string& name) {
  TTrashSlot slot;
  if (uint32_t e = ClaimTrashSlot(name, slot)) return e;
  if (::rename(slot.Abs.c_str(), slot.File.c_str()) == 0) return kErrSuccess;
  int e = errno;
  if (e == EXDEV && CopyFile(slot.Abs, slot.File)) {
    if (::unlink(slot.Abs.c_str()) == 0) return kErrSuccess;
    e = errno;
    ::unlink(slot.File.c_str());
  }
  slot.Drop();
  posix::SetErrorFromErrno(e, slot.Abs);
  return GetLastError();
}

uint32_t FileReplace(const std::string& source, const std::string& target, bool toTrash) {
  if (source.empty() || target.empty() || source.find('\0') != std::string::npos ||
      target.find('\0') != std::string::npos)
    return kErrInvalidName;
  struct stat st;
  const bool exists = ::lstat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return kErrAccessDenied;
  // The new file keeps the old one's permissions (a private archive stays private).
  if (exists && S_ISREG(st.st_mode)) ::chmod(source.c_str(), st.st_mode & 07777);
  const bool trash = toTrash && exists;
  TTrashSlot slot;
  if (trash) {
    if (uint32_t e = ClaimTrashSlot(target, slot)) return e;
    // A second name in the trash, or a copy where the trash is on another volume.
    if (::link(slot.Abs.c_str(), slot.File.c_str()) != 0 && !CopyFile(slot.Abs, slot.File)) {
      const int e = errno;
      slot.Drop();
      posix::SetErrorFromErrno(e, slot.Abs);
      return GetLastError();
    }
  }
  if (::rename(source.c_str(), target.c_str()) == 0) return kErrSuccess;
  const int e = errno;
  if (trash) {
    ::unlink(slot.File.c_str());
    slot.Drop();
  }
  posix::SetErrorFromErrno(e, source);
  return GetLastError();
}

uint32_t FileReplaceW(const std::u16string& source, const std::u16string& target, bool toTrash) {
  return FileReplace(NativeName(source), NativeName(target), toTrash);
}

}  // namespace plat
