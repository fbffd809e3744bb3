#include "run/run_settings.h"

#include <mutex>

RunSettings runSettings;
platform::EventHandle readyEvent = nullptr;

namespace {

// Guards the switch of the awaited reason against a DS Connected being
// signalled at the same moment, which would otherwise leave a stale signal
// for the synchronization wait.
std::mutex readyReasonMutex;
ReadyReason awaitedReason = ReadyReason::DataServer;  // guarded by readyReasonMutex
bool synchronizedSignalled = false;                   // guarded by readyReasonMutex

}  // namespace

void signalReady(ReadyReason reason) {
  std::lock_guard lock(readyReasonMutex);
  if (reason == ReadyReason::Synchronized) synchronizedSignalled = true;
  if (reason == awaitedReason) platform::setEvent(readyEvent);
}

void awaitSynchronization() {
  std::lock_guard lock(readyReasonMutex);
  awaitedReason = ReadyReason::Synchronized;
  synchronizedSignalled = false;
  platform::waitForEvent(readyEvent, 0);
}

bool tableSynchronized() {
  std::lock_guard lock(readyReasonMutex);
  return synchronizedSignalled;
}
