// The locks every part uses: a mutex the thread-safety analysis knows about
// (the standard one carries no annotations), its scoped lock and a condition
// variable that waits on it. A field that a mutex guards says so with
// GUARDED_BY, and clang checks every access.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace platform {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` from construction to the end of the scope, except between an
// unlock() and the next lock().
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void unlock() RELEASE() {
    mutex_.unlock();
    held_ = false;
  }
  void lock() ACQUIRE() {
    mutex_.lock();
    held_ = true;
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

// A condition variable over Mutex. A wait is entered and left with the mutex
// held; it may also return without a notification, so callers wait in a loop
// on their condition, which the analysis then sees read under the lock.
class CondVar {
 public:
  void notifyOne() noexcept { changed_.notify_one(); }
  void notifyAll() noexcept { changed_.notify_all(); }

  void wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    changed_.wait(lock);
    lock.release();
  }
  // False once `deadline` (on the steady clock, which changes of the wall
  // clock never move) has passed.
  bool waitUntil(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    const bool notified = changed_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return notified;
  }

 private:
  std::condition_variable changed_;
};

}  // namespace platform
