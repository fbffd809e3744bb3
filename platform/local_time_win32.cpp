// The local date and time on Windows, straight from the system.
#include <windows.h>

#include "platform/local_time.h"

namespace platform {

LocalTime localTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                   now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
}

}  // namespace platform
