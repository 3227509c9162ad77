#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <fcntl.h>

#include "PlatDynLib.h"
#include "PlatDynLibSystem.h"
#include "PlatError.h"

namespace plat {

TLibHandle LibLoad(const std::string& path) {
  detail::RecordLibError(0, {});
  if (path.empty()) {
    detail::RecordLibError(kErrInvalidParameter, SysErrorMessage(kErrInvalidParameter));
    return nullptr;
  }
  if (!IsFullPath(path)) {
    detail::RecordLibError(kErrInvalidName, "not a full path: " + path);
    SetLastError(kErrInvalidName);
    return nullptr;
  }
  dlerror();
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = dlerror();
    std::string text = why ? why : "unknown error";
    // dlopen keeps no error number; a missing file is the usual cause.
    uint32_t code;
    if (access(path.c_str(), F_OK) != 0)
      code = kErrFileNotFound;
    else if (text.find("No such file") != std::string::npos ||
             text.find("cannot open shared object") != std::string::npos)
      code = kErrFileNotFound;
    else
      code = 193;  // not a valid library image
    detail::RecordLibError(code, std::move(text));
    SetLastError(code);
  }
  return h;
}

bool IsFullPath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool LibImageCreate(const std::string& name, const void* data, size_t size, TLibImage& image) {
  image = TLibImage{};
#ifdef MFD_CLOEXEC
  // Newer kernels may make memory files unexecutable unless asked (MFD_EXEC); older
  // ones refuse that flag as unknown.
  constexpr unsigned kExec = 0x0010U;
  int fd = memfd_create(name.c_str(), MFD_CLOEXEC | kExec);
  if (fd < 0 && errno == EINVAL) fd = memfd_create(name.c_str(), MFD_CLOEXEC);
  if (fd < 0) {
    SetLastError(kErrNotSupported);
    return false;
  }
  const auto* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  // Without /proc the image cannot be named to the loader.
  if (done != size || access(path.c_str(), R_OK) != 0) {
    ::close(fd);
    SetLastError(done != size ? kErrNotEnoughMemory : kErrNotSupported);
    return false;
  }
  image.Handle = fd;
  image.Path = path;
  return true;
#else
  (void)name;
  (void)data;
  (void)size;
  SetLastError(kErrNotSupported);
  return false;
#endif
}

void LibImageClose(TLibImage& image) {
  if (image.Handle >= 0) ::close(int(image.Handle));
  image = TLibImage{};
}

void* LibSymbol(TLibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return dlsym(lib, name);
}

bool LibFree(TLibHandle lib) { return lib && dlclose(lib) == 0; }

std::string ProgramFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string p(buf, size_t(n));
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::string ModuleFolder(const void* address) {
  Dl_info info{};
  if (!address || dladdr(address, &info) == 0 || !info.dli_fname || info.dli_fname[0] != '/')
    return std::string();
  const std::string p(info.dli_fname);
  return p.substr(0, p.rfind('/') + 1);
}

bool NewGuidText(std::string& text) {
  unsigned char b[16];
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = read(fd, b + got, sizeof b - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  close(fd);
  if (got != sizeof b) return false;
  b[6] = uint8_t((b[6] & 0x0F) | 0x40);  // version 4 (random)
  b[8] = uint8_t((b[8] & 0x3F) | 0x80);
  char out[40];
  std::snprintf(out, sizeof out, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  text = out;
  return true;
}

}  // namespace plat
