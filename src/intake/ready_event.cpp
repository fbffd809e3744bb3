#include "intake/ready_event.h"

ReadyEvent::ReadyEvent() : handle_(platform::createAutoResetEvent()) {}

ReadyEvent::~ReadyEvent() { platform::closeEvent(handle_); }

void ReadyEvent::signal(ReadyReason reason) {
  platform::MutexLock lock(mutex_);
  if (reason == ReadyReason::Synchronized) synchronized_ = true;
  if (reason == awaited_) platform::setEvent(handle_);
}

void ReadyEvent::awaitSynchronization() {
  platform::MutexLock lock(mutex_);
  awaited_ = ReadyReason::Synchronized;
  synchronized_ = false;
  platform::waitForEvent(handle_, 0);
}

bool ReadyEvent::tableSynchronized() {
  platform::MutexLock lock(mutex_);
  return synchronized_;
}

void ReadyEvent::interrupt() {
  platform::MutexLock lock(mutex_);
  interrupted_ = true;
  platform::setEvent(handle_);
}

uint32_t ReadyEvent::wait(uint32_t milliseconds) {
  {
    // A signal of interrupt() consumed by awaitSynchronization or by an
    // earlier wait must still release this one.
    platform::MutexLock lock(mutex_);
    if (interrupted_) return platform::kWaitSignalled;
  }
  return platform::waitForEvent(handle_, milliseconds);
}
