// The local date and time on POSIX, from the real-time clock and the time zone
// rules of the C library (TZ or /etc/localtime).
#include <time.h>

#include "platform/local_time.h"

namespace platform {

LocalTime localTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm fields{};
  // localtime_r fails only for times far outside any calendar the program
  // meets; UTC is then the closest thing to an answer.
  if (localtime_r(&now.tv_sec, &fields) == nullptr) gmtime_r(&now.tv_sec, &fields);
  // A leap second shows as second 59 for its whole length, so callers never
  // see second 60.
  const int second = fields.tm_sec > 59 ? 59 : fields.tm_sec;
  return LocalTime{
      static_cast<uint16_t>(fields.tm_year + 1900),
      static_cast<uint16_t>(fields.tm_mon + 1),
      static_cast<uint16_t>(fields.tm_wday),
      static_cast<uint16_t>(fields.tm_mday),
      static_cast<uint16_t>(fields.tm_hour),
      static_cast<uint16_t>(fields.tm_min),
      static_cast<uint16_t>(second),
      static_cast<uint16_t>(now.tv_nsec / 1000000),
  };
}

}  // namespace platform
