/* Preloaded into a program by the tests of its fallbacks: every request for a file
   without a name (O_TMPFILE) fails as it does on file systems that have none (NFS,
   vfat, FUSE); every other open goes on as usual. */
#undef _FORTIFY_SOURCE /* its wrappers of open would clash with ours */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>

typedef int (*TOpen)(const char*, int, ...);
typedef int (*TOpenAt)(int, const char*, int, ...);

static int Refused(int flags) {
  if ((flags & O_TMPFILE) != O_TMPFILE) return 0;
  errno = EOPNOTSUPP;
  return 1;
}

static int ModeOf(int flags, va_list ap) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, int) : 0;
}

/* An open call passed on to the next library but for the refused requests: its name, the
   type of the next one, its parameters (with flags and "...") and the arguments passed on
   (with mode). */
#define ZM_OPEN_CALL(name, TNext, params, args)       \
  int name params {                                   \
    static TNext next;                                \
    va_list ap;                                       \
    va_start(ap, flags);                              \
    const int mode = ModeOf(flags, ap);               \
    va_end(ap);                                       \
    if (Refused(flags)) return -1;                    \
    if (!next) next = (TNext)dlsym(RTLD_NEXT, #name); \
    return next args;                                 \
  }

ZM_OPEN_CALL(open, TOpen, (const char* path, int flags, ...), (path, flags, mode))
ZM_OPEN_CALL(open64, TOpen, (const char* path, int flags, ...), (path, flags, mode))
ZM_OPEN_CALL(openat, TOpenAt, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
ZM_OPEN_CALL(openat64, TOpenAt, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
