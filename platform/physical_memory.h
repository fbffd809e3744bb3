// The machine's memory, for limits sized to it.
#pragma once

#include <cstdint>

namespace platform {

// The bytes of physical memory the system has; 0 when it cannot tell.
uint64_t physicalMemoryBytes();

}  // namespace platform
