// The auto-reset event on POSIX: a flag guarded by a mutex, with a condition
// variable on the steady clock so that changes of the wall clock never shorten
// or stretch a wait.
#include <chrono>
#include <new>

#include "platform/event.h"
#include "platform/mutex.h"

namespace platform {

struct Event {
  Mutex mutex;
  CondVar signalledChanged;
  bool signalled GUARDED_BY(mutex) = false;
};

EventHandle createAutoResetEvent() { return new (std::nothrow) Event; }

bool setEvent(EventHandle event) {
  if (event == nullptr) return false;
  {
    MutexLock lock(event->mutex);
    event->signalled = true;
  }
  // One signal can satisfy only one waiter, so waking more would be wasted.
  event->signalledChanged.notifyOne();
  return true;
}

uint32_t waitForEvent(EventHandle event, uint32_t milliseconds) {
  if (event == nullptr) return kWaitFailed;
  MutexLock lock(event->mutex);
  if (milliseconds == kInfinite) {
    while (!event->signalled) event->signalledChanged.wait(event->mutex);
  } else if (milliseconds != 0) {
    // At most 2^32 - 2 ms (about 49.7 days) past now: far inside the range of
    // the clock's 64-bit nanosecond count, so the deadline cannot overflow.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t{milliseconds});
    while (!event->signalled && event->signalledChanged.waitUntil(event->mutex, deadline)) {
    }
  }
  if (!event->signalled) return kWaitTimeout;
  event->signalled = false;
  return kWaitSignalled;
}

void closeEvent(EventHandle event) { delete event; }

}  // namespace platform
