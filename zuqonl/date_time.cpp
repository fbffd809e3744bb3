#include "date_time.h"

namespace zuqonl {
namespace {

// The value of the N decimal digits at `pos`, or -1 when any is not a digit.
// A program reads two date-times per row: the digits are checked all
// together, without a branch per digit.
template <size_t N>
int readDigits(std::string_view text, size_t pos) {
  int value = 0;
  bool allDigits = true;
  for (size_t i = 0; i < N; ++i) {
    const unsigned digit = static_cast<unsigned char>(text[pos + i]) - unsigned{'0'};
    allDigits &= digit <= 9;
    value = value * 10 + static_cast<int>(digit);
  }
  return allDigits ? value : -1;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads "YYYY-MM-DD" at the start of `text`.
bool parseDate(std::string_view text, DateTimeValue* out) {
  if (text[4] != '-' || text[7] != '-') return false;
  int year = readDigits<4>(text, 0);
  int month = readDigits<2>(text, 5);
  int day = readDigits<2>(text, 8);
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
  int hour = readDigits<2>(text, 0);
  int minute = readDigits<2>(text, 3);
  int second = readDigits<2>(text, 6);
  int millis = 0;
  if (text.size() == 12) {
    if (text[8] != '.') return false;
    millis = readDigits<3>(text, 9);
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
