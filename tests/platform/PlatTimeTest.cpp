#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "PlatTime.h"

using namespace plat;

namespace {

// Sets the process time zone for one test.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    FHad = old != nullptr;
    if (old) FOld = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (FHad)
      setenv("TZ", FOld.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool FHad = false;
  std::string FOld;
};

TFileTime Make(int y, int mo, int d, int h, int mi, int s) {
  TSystemTime st;
  st.Year = uint16_t(y);
  st.Month = uint16_t(mo);
  st.Day = uint16_t(d);
  st.Hour = uint16_t(h);
  st.Minute = uint16_t(mi);
  st.Second = uint16_t(s);
  TFileTime ft = 0;
  EXPECT_TRUE(SystemTimeToFileTime(st, ft));
  return ft;
}

}  // namespace

TEST(PlatTime, CalendarConversionsAgreeWithKnownValues) {
  EXPECT_EQ(kUnixEpochFileTime, Make(1970, 1, 1, 0, 0, 0));
  EXPECT_EQ(0u, Make(1601, 1, 1, 0, 0, 0));
  TSystemTime st;
  ASSERT_TRUE(FileTimeToSystemTime(Make(2016, 2, 29, 23, 59, 58), st));
  EXPECT_EQ(2016, st.Year);
  EXPECT_EQ(2, st.Month);
  EXPECT_EQ(29, st.Day);
  EXPECT_EQ(1, st.DayOfWeek);  // a Monday
  EXPECT_EQ(58, st.Second);
  TSystemTime bad;
  bad.Year = 2015;
  bad.Month = 2;
  bad.Day = 29;
  TFileTime ft;
  EXPECT_FALSE(SystemTimeToFileTime(bad, ft));
  bad.Month = 13;
  EXPECT_FALSE(SystemTimeToFileTime(bad, ft));
}

TEST(PlatTime, DosStampsRoundTripAndRejectInvalidFields) {
  TFileTime ft = Make(2016, 6, 15, 13, 45, 31);  // odd seconds drop to even
  uint16_t date = 0, time = 0;
  ASSERT_TRUE(FileTimeToDosDateTime(ft, date, time));
  EXPECT_EQ(((2016 - 1980) << 9) | (6 << 5) | 15, date);
  EXPECT_EQ((13 << 11) | (45 << 5) | 15, time);
  TFileTime back = 0;
  ASSERT_TRUE(DosDateTimeToFileTime(date, time, back));
  EXPECT_EQ(Make(2016, 6, 15, 13, 45, 30), back);
  // Outside 1980-2107 there is no DOS form.
  EXPECT_FALSE(FileTimeToDosDateTime(Make(1979, 12, 31, 23, 59, 59), date, time));
  EXPECT_FALSE(FileTimeToDosDateTime(Make(2108, 1, 1, 0, 0, 0), date, time));
  // Month 0, day 0, hour 24 and 60 seconds are refused.
  EXPECT_FALSE(DosDateTimeToFileTime(0x0021 & ~0x01E0, 0, back));
  EXPECT_FALSE(DosDateTimeToFileTime(0x0020, 0, back));
  EXPECT_FALSE(DosDateTimeToFileTime(0x0021, 24 << 11, back));
  EXPECT_FALSE(DosDateTimeToFileTime(0x0021, 30, back));
  EXPECT_TRUE(DosDateTimeToFileTime(0x0021, 0, back));  // 1980-01-01
}

TEST(PlatTime, DateTimeValues) {
  TSystemTime st;
  ASSERT_TRUE(FileTimeToSystemTime(Make(1899, 12, 30, 0, 0, 0), st));
  EXPECT_DOUBLE_EQ(0.0, SystemTimeToDateTime(st));
  EXPECT_DOUBLE_EQ(2.25, FileTimeToDateTime(Make(1900, 1, 1, 6, 0, 0)));
  EXPECT_DOUBLE_EQ(42544.5, FileTimeToDateTime(Make(2016, 6, 23, 12, 0, 0)));
  // Before day 0 the fraction counts away from zero.
  EXPECT_DOUBLE_EQ(-1.25, FileTimeToDateTime(Make(1899, 12, 29, 6, 0, 0)));
  TFileTime ft;
  ASSERT_TRUE(DateTimeToFileTime(42544.5, ft));
  EXPECT_EQ(Make(2016, 6, 23, 12, 0, 0), ft);
  ASSERT_TRUE(DateTimeToFileTime(-1.25, ft));
  EXPECT_EQ(Make(1899, 12, 29, 6, 0, 0), ft);
  EXPECT_FALSE(DateTimeToFileTime(1.0 / 0.0, ft));
}

TEST(PlatTime, LocalTimeFollowsTheZoneRulesOfTheDate) {
  TimeZone tz("Europe/Warsaw");
  TFileTime local = 0;
  ASSERT_TRUE(FileTimeToLocalFileTime(Make(2016, 1, 15, 12, 0, 0), local));
  EXPECT_EQ(Make(2016, 1, 15, 13, 0, 0), local);  // winter: UTC+1
  ASSERT_TRUE(FileTimeToLocalFileTime(Make(2016, 7, 15, 12, 0, 0), local));
  EXPECT_EQ(Make(2016, 7, 15, 14, 0, 0), local);  // summer: UTC+2
  TFileTime utc = 0;
  ASSERT_TRUE(LocalFileTimeToFileTime(Make(2016, 7, 15, 14, 0, 0) + 1234567, utc));
  EXPECT_EQ(Make(2016, 7, 15, 12, 0, 0) + 1234567, utc);
}

TEST(PlatTime, NowIsAfterTheUnixEpoch) {
  EXPECT_GT(NowFileTime(), Make(2020, 1, 1, 0, 0, 0));
  int64_t s;
  uint32_t ns;
  UnixFromFileTime(kUnixEpochFileTime - 5, s, ns);
  EXPECT_EQ(-1, s);
  EXPECT_EQ(999999500u, ns);
}
