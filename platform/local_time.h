// The machine's local date and time, as GetLocalTime gives it.
#pragma once

#include <cstdint>

namespace platform {

// Field order and ranges of the Windows SYSTEMTIME: day of week counts from
// Sunday = 0; seconds never show 60.
struct LocalTime {
  uint16_t year;
  uint16_t month;
  uint16_t dayOfWeek;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

LocalTime localTime();

}  // namespace platform
