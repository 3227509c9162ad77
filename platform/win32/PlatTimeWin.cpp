// The clock and local time from the system.
#include <windows.h>

#include "PlatTime.h"

namespace plat {

namespace {

FILETIME ToFt(TFileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = DWORD(t & 0xFFFFFFFFu);
  ft.dwHighDateTime = DWORD(t >> 32);
  return ft;
}

TFileTime FromFt(const FILETIME& ft) { return (TFileTime(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

}  // namespace

TFileTime NowFileTime() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  return FromFt(ft);
}

bool FileTimeToLocalFileTime(TFileTime utc, TFileTime& local) {
  FILETIME in = ToFt(utc), out;
  if (!::FileTimeToLocalFileTime(&in, &out)) return false;
  local = FromFt(out);
  return true;
}

bool LocalFileTimeToFileTime(TFileTime local, TFileTime& utc) {
  FILETIME in = ToFt(local), out;
  if (!::LocalFileTimeToFileTime(&in, &out)) return false;
  utc = FromFt(out);
  return true;
}

}  // namespace plat
