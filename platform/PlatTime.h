// Times: file times (UTC, 100 ns units since 1601-01-01), calendar times, local time,
// MS-DOS date and time, and date-time values (days since 1899-12-30 as a double).
#pragma once
#include <cstdint>

namespace plat {

using TFileTime = uint64_t;

struct TSystemTime {
  uint16_t Year = 0;
  uint16_t Month = 0;      // 1-12
  uint16_t DayOfWeek = 0;  // 0 = Sunday
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Milliseconds = 0;
};

// File time of 1970-01-01 00:00:00 UTC.
inline constexpr TFileTime kUnixEpochFileTime = 116444736000000000ULL;

TFileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
// Seconds (negative before 1970) and nanoseconds of a file time.
void UnixFromFileTime(TFileTime ft, int64_t& seconds, uint32_t& nanoseconds);
TFileTime NowFileTime();

// Calendar conversions without any time zone; false for out-of-range input.
bool FileTimeToSystemTime(TFileTime ft, TSystemTime& st);
bool SystemTimeToFileTime(const TSystemTime& st, TFileTime& ft);

// UTC file time to local file time and back, with the time zone rules in force at
// that moment.
bool FileTimeToLocalFileTime(TFileTime utc, TFileTime& local);
bool LocalFileTimeToFileTime(TFileTime local, TFileTime& utc);

// MS-DOS date (high word of a stamp) and time (low word, 2-second steps); years
// 1980-2107. No time zone is applied.
bool FileTimeToDosDateTime(TFileTime ft, uint16_t& date, uint16_t& time);
bool DosDateTimeToFileTime(uint16_t date, uint16_t time, TFileTime& ft);

// Date-time values.
double SystemTimeToDateTime(const TSystemTime& st);
bool DateTimeToSystemTime(double dt, TSystemTime& st);
double FileTimeToDateTime(TFileTime ft);
bool DateTimeToFileTime(double dt, TFileTime& ft);

}  // namespace plat
