// The auto-reset event on Windows: the handle of a kernel event object,
// carried as an opaque EventHandle.
#include <windows.h>

#include "platform/event.h"

namespace platform {

namespace {

HANDLE native(EventHandle event) { return reinterpret_cast<HANDLE>(event); }

}  // namespace

EventHandle createAutoResetEvent() {
  return reinterpret_cast<EventHandle>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

bool setEvent(EventHandle event) { return event != nullptr && SetEvent(native(event)) != 0; }

uint32_t waitForEvent(EventHandle event, uint32_t milliseconds) {
  if (event == nullptr) return kWaitFailed;
  return WaitForSingleObject(native(event), milliseconds);
}

void closeEvent(EventHandle event) {
  if (event != nullptr) CloseHandle(native(event));
}

}  // namespace platform
