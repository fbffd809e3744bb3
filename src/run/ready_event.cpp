#include "run/ready_event.h"

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

uint32_t ReadyEvent::wait(uint32_t milliseconds) {
  return platform::waitForEvent(handle_, milliseconds);
}
