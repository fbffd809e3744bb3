#include "date_time.h"

namespace zuqonl {
namespace {

// The value of `count` decimal digits at `pos`, or -1 when any is not a digit.
int readDigits(std::string_view text, size_t pos, size_t count) {
  int value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads "YYYY-MM-DD" at the start of `text`.
bool parseDate(std::string_view text, DateTimeValue* out) {
  if (text[4] != '-' || text[7] != '-') return false;
  int year = readDigits(text, 0, 4);
  int month = readDigits(text, 5, 2);
  int day = readDigits(text, 8, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  if (day > daysInMonth(year, month)) return false;
  out->year = static_cast<uint16_t>(year);
  out->month = static_cast<uint16_t>(month);
  out->day = static_cast<uint16_t>(day);
  out->dayOfWeek = static_cast<uint16_t>(dayOfWeek(year, month, day));
  return true;
}

// Reads "HH:MM:SS" or "HH:MM:SS.mmm", the whole of `text`.
bool parseTime(std::string_view text, DateTimeValue* out) {
  if (text.size() != 8 && text.size() != 12) return false;
  if (text[2] != ':' || text[5] != ':') return false;
  int hour = readDigits(text, 0, 2);
  int minute = readDigits(text, 3, 2);
  int second = readDigits(text, 6, 2);
  int millis = 0;
  if (text.size() == 12) {
    if (text[8] != '.') return false;
    millis = readDigits(text, 9, 3);
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millis < 0) {
    return false;
  }
  out->hour = static_cast<uint16_t>(hour);
  out->minute = static_cast<uint16_t>(minute);
  out->second = static_cast<uint16_t>(second);
  out->milliseconds = static_cast<uint16_t>(millis);
  return true;
}

}  // namespace

int dayOfWeek(int year, int month, int day) {
  // Counting from March makes the leap day the last day of the counted year.
  static constexpr int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + kMonthOffset[month - 1] + day) % 7;
}

bool parseDateTime(std::string_view text, DateTimeValue* value) {
  if (value == nullptr || text.size() < 10) return false;
  DateTimeValue parsed{};
  if (!parseDate(text.substr(0, 10), &parsed)) return false;
  if (text.size() > 10) {
    if (text[10] != ' ' && text[10] != 'T') return false;
    if (!parseTime(text.substr(11), &parsed)) return false;
  }
  *value = parsed;
  return true;
}

}  // namespace zuqonl
