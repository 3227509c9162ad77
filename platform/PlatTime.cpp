#include "PlatTime.h"

#include <cmath>

namespace plat {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86400;
// Days from 1601-01-01 to 1899-12-30, the date-time value's day 0.
constexpr int64_t kDateTimeEpochDays = 109205;
// Largest file time the calendar conversions accept (year 30827, as the system does).
constexpr TFileTime kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// 1601-01-01 as days since 1970-01-01.
constexpr int64_t kFileTimeEpochDays = -134774;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

TFileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  int64_t ticks = seconds * kTicksPerSecond + int64_t(nanoseconds / 100);
  int64_t ft = ticks + int64_t(kUnixEpochFileTime);
  return ft < 0 ? 0 : TFileTime(ft);
}

void UnixFromFileTime(TFileTime ft, int64_t& seconds, uint32_t& nanoseconds) {
  int64_t ticks = int64_t(ft & kMaxFileTime) - int64_t(kUnixEpochFileTime);
  int64_t s = ticks / kTicksPerSecond;
  int64_t rem = ticks % kTicksPerSecond;
  if (rem < 0) {
    rem += kTicksPerSecond;
    --s;
  }
  seconds = s;
  nanoseconds = uint32_t(rem * 100);
}

bool FileTimeToSystemTime(TFileTime ft, TSystemTime& st) {
  if (ft > kMaxFileTime) return false;
  int64_t days = int64_t(ft / TFileTime(kTicksPerDay));
  int64_t rest = int64_t(ft % TFileTime(kTicksPerDay));
  int64_t y;
  unsigned m, d;
  CivilFromDays(days + kFileTimeEpochDays, y, m, d);
  if (y > 30827) return false;
  st.Year = uint16_t(y);
  st.Month = uint16_t(m);
  st.Day = uint16_t(d);
  st.DayOfWeek = uint16_t((days + 1) % 7);  // 1601-01-01 was a Monday
  st.Hour = uint16_t(rest / (kTicksPerSecond * 3600));
  st.Minute = uint16_t(rest / (kTicksPerSecond * 60) % 60);
  st.Second = uint16_t(rest / kTicksPerSecond % 60);
  st.Milliseconds = uint16_t(rest / 10000 % 1000);
  return true;
}

bool SystemTimeToFileTime(const TSystemTime& st, TFileTime& ft) {
  if (st.Year < 1601 || st.Year > 30827 || st.Month < 1 || st.Month > 12 || st.Day < 1 ||
      st.Day > DaysInMonth(st.Year, st.Month) || st.Hour > 23 || st.Minute > 59 || st.Second > 59 ||
      st.Milliseconds > 999)
    return false;
  int64_t days = DaysFromCivil(st.Year, st.Month, st.Day) - kFileTimeEpochDays;
  int64_t ticks = days * kTicksPerDay +
                  ((int64_t(st.Hour) * 60 + st.Minute) * 60 + st.Second) * kTicksPerSecond +
                  int64_t(st.Milliseconds) * 10000;
  ft = TFileTime(ticks);
  return true;
}

bool FileTimeToDosDateTime(TFileTime ft, uint16_t& date, uint16_t& time) {
  TSystemTime st;
  if (!FileTimeToSystemTime(ft, st) || st.Year < 1980 || st.Year > 2107) return false;
  date = uint16_t(((st.Year - 1980) << 9) | (st.Month << 5) | st.Day);
  time = uint16_t((st.Hour << 11) | (st.Minute << 5) | (st.Second / 2));
  return true;
}

bool DosDateTimeToFileTime(uint16_t date, uint16_t time, TFileTime& ft) {
  TSystemTime st;
  st.Year = uint16_t(1980 + (date >> 9));
  st.Month = uint16_t((date >> 5) & 0x0F);
  st.Day = uint16_t(date & 0x1F);
  st.Hour = uint16_t(time >> 11);
  st.Minute = uint16_t((time >> 5) & 0x3F);
  st.Second = uint16_t((time & 0x1F) * 2);
  return SystemTimeToFileTime(st, ft);
}

double SystemTimeToDateTime(const TSystemTime& st) {
  int64_t days = DaysFromCivil(st.Year, st.Month, st.Day) - kFileTimeEpochDays - kDateTimeEpochDays;
  double frac = ((st.Hour * 60.0 + st.Minute) * 60.0 + st.Second + st.Milliseconds / 1000.0) / 86400.0;
  // Before day 0 the fraction counts away from zero, as date-time values do.
  return days >= 0 ? double(days) + frac : double(days) - frac;
}

bool DateTimeToSystemTime(double dt, TSystemTime& st) {
  if (!std::isfinite(dt) || dt < -109205.0 || dt > 2958466.0 + 10000000.0) return false;
  double whole = std::trunc(dt);
  double frac = std::fabs(dt - whole);
  int64_t days = int64_t(whole);
  int64_t ms = int64_t(std::llround(frac * 86400000.0));
  if (ms >= 86400000) {
    ms -= 86400000;
    days += dt >= 0 ? 1 : -1;
  }
  int64_t fileDays = days + kDateTimeEpochDays;
  if (fileDays < 0) return false;
  TFileTime ft = TFileTime(fileDays * kTicksPerDay + ms * 10000);
  return FileTimeToSystemTime(ft, st);
}

double FileTimeToDateTime(TFileTime ft) {
  TSystemTime st;
  if (!FileTimeToSystemTime(ft, st)) return 0;
  return SystemTimeToDateTime(st);
}

bool DateTimeToFileTime(double dt, TFileTime& ft) {
  TSystemTime st;
  return DateTimeToSystemTime(dt, st) && SystemTimeToFileTime(st, ft);
}

}  // namespace plat
