#include "platform/local_time.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {
namespace {

// Seconds since 1970-01-01 00:00:00 of a calendar time taken at face value,
// so that two readings compare without any time zone arithmetic.
int64_t civilSeconds(int year, int month, int day, int hour, int minute, int second) {
  const std::chrono::sys_days date = std::chrono::year_month_day{
      std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
      std::chrono::day{static_cast<unsigned>(day)}};
  return int64_t{date.time_since_epoch().count()} * 86400 + hour * 3600 + minute * 60 + second;
}

int64_t civilSeconds(const LocalTime& t) {
  return civilSeconds(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

int64_t civilSeconds(const tm& t) {
  return civilSeconds(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

// The C library's reentrant local and universal time, as each platform names it.
bool cLocalTime(time_t when, tm* out) {
#ifdef _WIN32
  return localtime_s(out, &when) == 0;
#else
  return localtime_r(&when, out) != nullptr;
#endif
}

TEST(LocalTimeTest, FieldsAreInRangeAndConsistent) {
  const LocalTime now = localTime();
  EXPECT_GE(now.year, 2000);
  EXPECT_LE(now.year, 30827);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LE(now.dayOfWeek, 6);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 59);
  EXPECT_LE(now.milliseconds, 999);

  const std::chrono::year_month_day date{std::chrono::year{now.year}, std::chrono::month{now.month},
                                         std::chrono::day{now.day}};
  ASSERT_TRUE(date.ok());
  EXPECT_EQ(std::chrono::weekday{std::chrono::sys_days{date}}.c_encoding(), now.dayOfWeek);
}

TEST(LocalTimeTest, AgreesWithTheCLibraryLocalTime) {
  const time_t before = time(nullptr);
  const LocalTime now = localTime();
  const time_t after = time(nullptr);
  tm first{};
  tm last{};
  ASSERT_TRUE(cLocalTime(before, &first));
  ASSERT_TRUE(cLocalTime(after, &last));
  // time() may run on a coarser clock, so allow it a second either way.
  EXPECT_GE(civilSeconds(now), civilSeconds(first) - 1);
  EXPECT_LE(civilSeconds(now), civilSeconds(last) + 1);
}

#ifndef _WIN32
// A zone far from UTC shows that the fields are local, not universal. POSIX
// only: Windows takes the zone from the system's settings, not from TZ.
TEST(LocalTimeTest, FollowsTheTimeZone) {
  const char* old = getenv("TZ");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  setenv("TZ", "ZUQ-5", 1);
  tzset();
  const time_t before = time(nullptr);
  const LocalTime now = localTime();
  if (saved) {
    setenv("TZ", saved->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  tm utc{};
  ASSERT_NE(gmtime_r(&before, &utc), nullptr);
  const int64_t offset = civilSeconds(now) - civilSeconds(utc);
  EXPECT_GE(offset, 5 * 3600 - 1);
  EXPECT_LE(offset, 5 * 3600 + 2);
}
#endif

}  // namespace
}  // namespace platform
