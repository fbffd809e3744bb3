// The auto-reset event on POSIX: a flag guarded by a mutex, with a condition
// variable on the steady clock so that changes of the wall clock never shorten
// or stretch a wait.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/event.h"

namespace platform {

struct Event {
  std::mutex mutex;
  std::condition_variable signalledChanged;
  bool signalled = false;  // guarded by mutex
};

EventHandle createAutoResetEvent() { return new (std::nothrow) Event; }

bool setEvent(EventHandle event) {
  if (event == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = true;
  }
  // One signal can satisfy only one waiter, so waking more would be wasted.
  event->signalledChanged.notify_one();
  return true;
}

uint32_t waitForEvent(EventHandle event, uint32_t milliseconds) {
  if (event == nullptr) return kWaitFailed;
  std::unique_lock<std::mutex> lock(event->mutex);
  const auto isSignalled = [event] { return event->signalled; };
  if (milliseconds == kInfinite) {
    event->signalledChanged.wait(lock, isSignalled);
  } else if (milliseconds != 0) {
    // At most 2^32 - 2 ms (about 49.7 days) past now: far inside the range of
    // the clock's 64-bit nanosecond count, so the deadline cannot overflow.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t{milliseconds});
    event->signalledChanged.wait_until(lock, deadline, isSignalled);
  }
  if (!event->signalled) return kWaitTimeout;
  event->signalled = false;
  return kWaitSignalled;
}

void closeEvent(EventHandle event) { delete event; }

}  // namespace platform
