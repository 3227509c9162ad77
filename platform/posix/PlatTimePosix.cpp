#include <time.h>

#include <cerrno>

#include "PlatError.h"
#include "PlatTime.h"

namespace plat {

TFileTime NowFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return FileTimeFromUnix(ts.tv_sec, uint32_t(ts.tv_nsec));
}

bool FileTimeToLocalFileTime(TFileTime utc, TFileTime& local) {
  int64_t s;
  uint32_t ns;
  UnixFromFileTime(utc, s, ns);
  time_t t = time_t(s);
  tm lt{};
  if (!localtime_r(&t, &lt)) {
    SetLastError(kErrInvalidParameter);
    return false;
  }
  int64_t shifted = int64_t(utc) + int64_t(lt.tm_gmtoff) * 10000000;
  if (shifted < 0) {
    SetLastError(kErrInvalidParameter);
    return false;
  }
  local = TFileTime(shifted);
  return true;
}

bool LocalFileTimeToFileTime(TFileTime local, TFileTime& utc) {
  TSystemTime st;
  if (!FileTimeToSystemTime(local, st)) {
    SetLastError(kErrInvalidParameter);
    return false;
  }
  tm lt{};
  lt.tm_year = st.Year - 1900;
  lt.tm_mon = st.Month - 1;
  lt.tm_mday = st.Day;
  lt.tm_hour = st.Hour;
  lt.tm_min = st.Minute;
  lt.tm_sec = st.Second;
  lt.tm_isdst = -1;
  errno = 0;
  time_t t = mktime(&lt);
  if (t == time_t(-1) && errno != 0) {
    SetLastError(kErrInvalidParameter);
    return false;
  }
  TFileTime ft = FileTimeFromUnix(int64_t(t), 0) + (local % 10000000);
  utc = ft;
  return true;
}

}  // namespace plat
