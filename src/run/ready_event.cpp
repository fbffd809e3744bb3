#include "run/ready_event.h"

ReadyEvent::ReadyEvent() : handle_(platform::createAutoResetEvent()) {}

ReadyEvent::~ReadyEvent() { platform::closeEvent(handle_); }

void ReadyEvent::signal(ReadyReason reason) {
  MutexLock lock(mutex_);
  if (reason == awaited_) platform::setEvent(handle_);
}

void ReadyEvent::awaitSynchronization() {
  MutexLock lock(mutex_);
  awaited_ = ReadyReason::Synchronized;
  platform::waitForEvent(handle_, 0);
}

uint32_t ReadyEvent::wait(uint32_t milliseconds) {
  return platform::waitForEvent(handle_, milliseconds);
}
