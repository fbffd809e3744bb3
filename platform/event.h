// An unnamed auto-reset event with the behaviour of the Windows event calls
// (CreateEventA(NULL, FALSE, FALSE, NULL), SetEvent, WaitForSingleObject,
// CloseHandle). One pending signal survives until the next wait consumes it;
// setting an event that is already set has no further effect.
#pragma once

#include <cstdint>

namespace platform {

struct Event;
using EventHandle = Event*;

inline constexpr uint32_t kWaitSignalled = 0;        // WAIT_OBJECT_0
inline constexpr uint32_t kWaitTimeout = 258;        // WAIT_TIMEOUT
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;  // WAIT_FAILED
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;    // INFINITE

// A new event, not signalled; null when it could not be created.
EventHandle createAutoResetEvent();
// Signals the event; false for a null handle. Safe from any thread.
bool setEvent(EventHandle event);
// Waits up to `milliseconds` (kInfinite: no limit) for the signal and
// consumes it. Returns kWaitSignalled, kWaitTimeout, or kWaitFailed (null
// handle). A timeout of 0 only looks.
uint32_t waitForEvent(EventHandle event, uint32_t milliseconds);
// Releases the event. No wait may be pending on it.
void closeEvent(EventHandle event);

}  // namespace platform
