#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "PlatCodePage.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "PosixErr.h"

namespace plat {

namespace {

using posix::SetErrorFromErrno;

TFileTime StatTime(const struct timespec& ts) { return FileTimeFromUnix(ts.tv_sec, uint32_t(ts.tv_nsec)); }

std::string BaseName(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

uint32_t AttrFromStat(const struct stat& st, const std::string& baseName) {
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode))
    a |= faDirectory;
  else if (S_ISREG(st.st_mode))
    a |= faArchive;
  if ((st.st_mode & S_IWUSR) == 0) a |= faReadOnly;
  if (baseName.size() > 1 && baseName[0] == '.' && baseName != "..") a |= faHidden;
  return a ? a : faNormal;
}

// stat that falls back to the link itself for dangling symbolic links.
bool StatPath(const std::string& name, struct stat& st) {
  if (::stat(name.c_str(), &st) == 0) return true;
  int e = errno;
  if (::lstat(name.c_str(), &st) == 0) return true;
  errno = e;
  return false;
}

bool CheckName(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) {
    SetLastError(name.empty() ? kErrPathNotFound : kErrInvalidName);
    return false;
  }
  return true;
}

}  // namespace

std::string NativeName(const std::u16string& name) {
  if (name.empty()) return {};
  int n = WideToMultiByte(kCpUtf8, 0, name.data(), int(name.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(size_t(n), '\0');
  WideToMultiByte(kCpUtf8, 0, name.data(), int(name.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string WideName(const std::string& name) {
  if (name.empty()) return {};
  int n = MultiByteToWide(kCpUtf8, 0, name.data(), int(name.size()), nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(size_t(n), u'\0');
  MultiByteToWide(kCpUtf8, 0, name.data(), int(name.size()), out.data(), n);
  return out;
}

uint32_t FileAttributes(const std::string& name) {
  if (!CheckName(name)) return kInvalidAttributes;
  struct stat st;
  if (!StatPath(name, st)) {
    SetErrorFromErrno(errno, name);
    return kInvalidAttributes;
  }
  std::string base = name;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return AttrFromStat(st, BaseName(base));
}

uint32_t FileAttributesW(const std::u16string& name) { return FileAttributes(NativeName(name)); }

THandle FileOpenW(const std::u16string& name, uint32_t mode) {
  std::string n = NativeName(name);
  if (!CheckName(n)) return kInvalidHandle;
  THandle h = FileOpen(n, mode);
  if (h == kInvalidHandle) SetErrorFromErrno(errno, n);
  return h;
}

THandle FileCreateW(const std::u16string& name) {
  std::string n = NativeName(name);
  if (!CheckName(n)) return kInvalidHandle;
  THandle h = FileCreate(n);
  if (h == kInvalidHandle) SetErrorFromErrno(errno, n);
  return h;
}

THandle FileCreateNewW(const std::u16string& name) {
  std::string n = NativeName(name);
  if (!CheckName(n)) return kInvalidHandle;
  return FileCreateNew(n);
}

int32_t FileSeek32(THandle h, int32_t offset, int origin) {
  int64_t r = FileSeek(h, offset, origin);
  if (r < 0 || r > INT32_MAX) {
    SetLastError(r < 0 ? kErrInvalidParameter : kErrNotSupported);
    return -1;
  }
  return int32_t(r);
}

bool FileSetTime(THandle h, TFileTime lastWrite) {
  if (h < 0) {
    SetLastError(kErrInvalidHandle);
    return false;
  }
  int64_t s;
  uint32_t ns;
  UnixFromFileTime(lastWrite, s, ns);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = time_t(s);
  times[1].tv_nsec = long(ns);
  if (::futimens(int(h), times) != 0) {
    SetErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool FileSetDate(THandle h, uint32_t dosDateTime) {
  TFileTime local, utc;
  if (!DosDateTimeToFileTime(uint16_t(dosDateTime >> 16), uint16_t(dosDateTime & 0xFFFF), local) ||
      !LocalFileTimeToFileTime(local, utc)) {
    SetLastError(kErrInvalidParameter);
    return false;
  }
  return FileSetTime(h, utc);
}

bool FileDelete(const std::string& name) {
  if (!CheckName(name)) return false;
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(kErrAccessDenied);
    return false;
  }
  if (::unlink(name.c_str()) != 0) {
    SetErrorFromErrno(errno, name);
    return false;
  }
  return true;
}

bool FileDeleteW(const std::u16string& name) { return FileDelete(NativeName(name)); }

bool FileMove(const std::string& oldName, const std::string& newName) {
  if (!CheckName(oldName) || !CheckName(newName)) return false;
  struct stat st;
  if (::lstat(newName.c_str(), &st) == 0) {
    SetLastError(kErrAlreadyExists);
    return false;
  }
  if (::rename(oldName.c_str(), newName.c_str()) != 0) {
    SetErrorFromErrno(errno, oldName);
    return false;
  }
  return true;
}

bool FileMoveW(const std::u16string& oldName, const std::u16string& newName) {
  return FileMove(NativeName(oldName), NativeName(newName));
}

bool FolderCreate(const std::string& name) {
  if (!CheckName(name)) return false;
  if (::mkdir(name.c_str(), 0777) != 0) {
    SetErrorFromErrno(errno, name);
    return false;
  }
  return true;
}

bool FolderCreateW(const std::u16string& name) { return FolderCreate(NativeName(name)); }

bool FolderRemove(const std::string& name) {
  if (!CheckName(name)) return false;
  if (::rmdir(name.c_str()) != 0) {
    int e = errno;
    if (e == ENOTDIR)
      SetLastError(kErrDirectory);
    else
      SetErrorFromErrno(e, name);
    return false;
  }
  return true;
}

bool FolderRemoveW(const std::u16string& name) { return FolderRemove(NativeName(name)); }

// ---- searching ----

struct TFindState {
  std::string Folder;  // with a trailing '/' unless empty
  std::vector<std::string> Names;
  size_t Next = 0;
};

namespace {

bool HasWildcards(const std::u16string& s) { return s.find_first_of(u"*?") != std::u16string::npos; }

// Wildcard match of UTF-16 names, letters compared after upper-casing.
bool WildMatch(const char16_t* p, const char16_t* pe, const char16_t* n, const char16_t* ne) {
  const char16_t* starP = nullptr;
  const char16_t* starN = nullptr;
  while (n < ne) {
    if (p < pe && *p == u'*') {
      starP = ++p;
      starN = n;
    } else if (p < pe && (*p == u'?' || UpperChar(*p) == UpperChar(*n))) {
      ++p;
      ++n;
    } else if (starP) {
      p = starP;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pe && *p == u'*') ++p;
  return p == pe;
}

bool Fill(const std::string& folder, const std::string& name, TFindData& data) {
  struct stat st;
  if (!StatPath(folder + name, st)) return false;  // vanished since listing
  data.Attr = AttrFromStat(st, name);
  data.Size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
  data.CreationTime = StatTime(st.st_ctim);
  data.LastAccessTime = StatTime(st.st_atim);
  data.LastWriteTime = StatTime(st.st_mtim);
  data.Name = WideName(name);
  return true;
}

bool Advance(TFindState& s, TFindData& data) {
  while (s.Next < s.Names.size()) {
    const std::string& name = s.Names[s.Next++];
    if (Fill(s.Folder, name, data)) return true;
  }
  SetLastError(kErrNoMoreFiles);
  return false;
}

}  // namespace

TFindHandle FindFirstW(const std::u16string& pattern, TFindData& data) {
  std::string native = NativeName(pattern);
  if (native.empty() || native.find('\0') != std::string::npos) {
    SetLastError(native.empty() ? kErrPathNotFound : kErrInvalidName);
    return kInvalidFindHandle;
  }
  auto slash = native.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
  std::string last = slash == std::string::npos ? native : native.substr(slash + 1);
  if (last.empty()) {
    SetLastError(kErrFileNotFound);
    return kInvalidFindHandle;
  }
  auto state = std::make_unique<TFindState>();
  state->Folder = folder;
  std::u16string wlast = WideName(last);
  if (!HasWildcards(wlast)) {
    struct stat st;
    if (!StatPath(native, st)) {
      SetErrorFromErrno(errno, native);
      return kInvalidFindHandle;
    }
    state->Names.push_back(last);
  } else {
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) {
      int e = errno;
      SetLastError(e == ENOENT || e == ENOTDIR ? kErrPathNotFound : posix::ErrorFromErrno(e));
      return kInvalidFindHandle;
    }
    bool matchAll = wlast == u"*" || wlast == u"*.*";
    while (dirent* ent = ::readdir(d)) {
      std::string name = ent->d_name;
      std::u16string wname = WideName(name);
      if (matchAll ||
          WildMatch(wlast.data(), wlast.data() + wlast.size(), wname.data(), wname.data() + wname.size()))
        state->Names.push_back(name);
    }
    ::closedir(d);
  }
  if (!Advance(*state, data)) {
    SetLastError(kErrFileNotFound);
    return kInvalidFindHandle;
  }
  return state.release();
}

bool FindNextW(TFindHandle h, TFindData& data) {
  if (!h) {
    SetLastError(kErrInvalidHandle);
    return false;
  }
  return Advance(*h, data);
}

void FindEnd(TFindHandle h) { delete h; }

bool FileInfoByHandle(THandle h, TFileInfo& info) {
  struct stat st;
  if (h < 0 || ::fstat(int(h), &st) != 0) {
    SetLastError(kErrInvalidHandle);
    return false;
  }
  info.Attr = AttrFromStat(st, std::string());
  info.CreationTime = StatTime(st.st_ctim);
  info.LastAccessTime = StatTime(st.st_atim);
  info.LastWriteTime = StatTime(st.st_mtim);
  info.VolumeSerial = uint32_t(st.st_dev);
  info.Size = uint64_t(st.st_size);
  info.Links = uint32_t(st.st_nlink);
  info.FileIndex = uint64_t(st.st_ino);
  return true;
}

bool FileIdentity(const std::string& name, TFileId& id) {
  if (!CheckName(name)) return false;
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) {
    SetErrorFromErrno(errno, name);
    return false;
  }
  id.Volume = uint64_t(st.st_dev);
  id.Index = uint64_t(st.st_ino);
  return true;
}

bool FileIdentityW(const std::u16string& name, TFileId& id) { return FileIdentity(NativeName(name), id); }

std::string TempFolder() {
  std::string dir = "/tmp";
  const char* env = std::getenv("TMPDIR");
  if (env && *env) {
    struct stat st;
    if (::stat(env, &st) == 0 && S_ISDIR(st.st_mode)) dir = env;
  }
  if (dir.back() != '/') dir.push_back('/');
  return dir;
}

std::string UniqueTempName(const std::string& folder, const std::string& prefix) {
  std::string dir = folder.empty() ? TempFolder() : folder;
  if (dir.back() != '/') dir.push_back('/');
  std::string pre = prefix.substr(0, 3);
  static const char kHex[] = "0123456789ABCDEF";
  uint32_t seed = uint32_t(::getpid()) ^ uint32_t(NowFileTime() / 10000);
  for (uint32_t i = 0; i < 0x10000; ++i) {
    uint32_t v = (seed + i) & 0xFFFF;
    if (v == 0) continue;
    std::string hex;
    for (int shift = 12; shift >= 0; shift -= 4)
      if (hex.size() || (v >> shift) || shift == 0) hex.push_back(kHex[(v >> shift) & 0xF]);
    std::string name = dir + pre + hex + ".tmp";
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) {
      SetErrorFromErrno(errno, name);
      return {};
    }
  }
  SetLastError(kErrFileExists);
  return {};
}

std::string CurrentFolder() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) {
      SetErrorFromErrno(errno);
      return {};
    }
    buf.resize(buf.size() * 2);
  }
  std::string s = buf.data();
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace plat
