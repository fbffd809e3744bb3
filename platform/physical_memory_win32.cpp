// The machine's memory as GlobalMemoryStatusEx counts it.
#include <windows.h>

#include "platform/physical_memory.h"

namespace platform {

uint64_t physicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

}  // namespace platform
