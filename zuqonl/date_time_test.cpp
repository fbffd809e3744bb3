#include "date_time.h"

#include <gtest/gtest.h>

#include <string>

namespace zuqonl {
namespace {

bool sameValue(const DateTimeValue& a, const DateTimeValue& b) {
  return a.year == b.year && a.month == b.month && a.dayOfWeek == b.dayOfWeek && a.day == b.day &&
         a.hour == b.hour && a.minute == b.minute && a.second == b.second &&
         a.milliseconds == b.milliseconds;
}

DateTimeValue parsed(const std::string& text) {
  DateTimeValue value{};
  EXPECT_TRUE(parseDateTime(text, &value)) << text;
  return value;
}

TEST(ParseDateTime, FillsAllEightFields) {
  EXPECT_TRUE(sameValue(parsed("2024-03-15 09:05:07"), DateTimeValue{2024, 3, 5, 15, 9, 5, 7, 0}));
  EXPECT_TRUE(
      sameValue(parsed("2024-03-15T23:59:59.123"), DateTimeValue{2024, 3, 5, 15, 23, 59, 59, 123}));
  EXPECT_TRUE(
      sameValue(parsed("2024-03-15 00:00:00.000"), DateTimeValue{2024, 3, 5, 15, 0, 0, 0, 0}));
}

TEST(ParseDateTime, DateAloneClearsTheTime) {
  DateTimeValue value{1, 1, 1, 1, 11, 22, 33, 444};
  ASSERT_TRUE(parseDateTime("1999-12-31", &value));
  EXPECT_TRUE(sameValue(value, DateTimeValue{1999, 12, 5, 31, 0, 0, 0, 0}));
}

TEST(ParseDateTime, DayOfWeekFollowsTheGregorianCalendar) {
  EXPECT_EQ(parsed("0001-01-01").dayOfWeek, 1);  // Monday
  EXPECT_EQ(parsed("1970-01-01").dayOfWeek, 4);  // Thursday
  EXPECT_EQ(parsed("2000-02-29").dayOfWeek, 2);  // Tuesday
  EXPECT_EQ(parsed("2000-03-01").dayOfWeek, 3);
  EXPECT_EQ(parsed("2023-01-01").dayOfWeek, 0);  // Sunday
  EXPECT_EQ(parsed("2024-12-31").dayOfWeek, 2);
  EXPECT_EQ(parsed("9999-12-31").dayOfWeek, 5);  // Friday
}

TEST(ParseDateTime, LeapYears) {
  EXPECT_EQ(parsed("2024-02-29").day, 29);
  EXPECT_EQ(parsed("2000-02-29").day, 29);
  DateTimeValue value{};
  EXPECT_FALSE(parseDateTime("1900-02-29", &value));
  EXPECT_FALSE(parseDateTime("2023-02-29", &value));
  EXPECT_FALSE(parseDateTime("2024-02-30", &value));
}

TEST(ParseDateTime, RejectsDatesAndTimesThatDoNotExist) {
  for (const char* text : {"0000-01-01", "2024-00-10", "2024-13-10", "2024-01-00", "2024-01-32",
                           "2024-04-31", "2024-06-31", "2024-09-31", "2024-11-31",
                           "2024-01-01 24:00:00", "2024-01-01 23:60:00", "2024-01-01 23:59:60"}) {
    DateTimeValue value{7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_FALSE(parseDateTime(text, &value)) << text;
    EXPECT_TRUE(sameValue(value, DateTimeValue{7, 7, 7, 7, 7, 7, 7, 7})) << text;
  }
}

TEST(ParseDateTime, RejectsEveryOtherShape) {
  for (const char* text : {"",
                           "2024",
                           "2024-1-05",
                           "2024-01-5",
                           "24-01-05",
                           "02024-01-05",
                           " 2024-01-05",
                           "2024-01-05 ",
                           "2024-01-05x",
                           "2024/01/05",
                           "2024-01-05 12:00",
                           "2024-01-05 12:00:00.",
                           "2024-01-05 12:00:00.1",
                           "2024-01-05 12:00:00.12",
                           "2024-01-05 12:00:00.1234",
                           "2024-01-05  12:00:00",
                           "2024-01-05t12:00:00",
                           "2024-01-05 12:00:00Z",
                           "2024-01-05 1:00:00",
                           "2024-01-05 12-00-00",
                           "+024-01-05",
                           "2024-0a-05",
                           "2024-01-05 12:00:00,123",
                           "2024-01-05\n"}) {
    DateTimeValue value{7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_FALSE(parseDateTime(text, &value)) << '"' << text << '"';
    EXPECT_TRUE(sameValue(value, DateTimeValue{7, 7, 7, 7, 7, 7, 7, 7})) << text;
  }
}

TEST(ParseDateTime, StopsAtNoEmbeddedNul) {
  DateTimeValue value{};
  EXPECT_FALSE(parseDateTime(std::string("2024-01-05\0", 11), &value));
}

TEST(ParseDateTime, NullValueIsRefused) { EXPECT_FALSE(parseDateTime("2024-01-05", nullptr)); }

}  // namespace
}  // namespace zuqonl
