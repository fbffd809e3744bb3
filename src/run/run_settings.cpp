#include "run/run_settings.h"

#include <mutex>

RunSettings runSettings;
platform::EventHandle readyEvent = nullptr;

namespace {

// Guards the switch of the awaited reason against a DS Connected being
// signalled at the same moment, which would otherwise leave a stale signal
// for the synchronization wait.
std::mutex readyReasonMutex;
ReadyReason awaitedReason = ReadyReason::DataServer;

}  // namespace

void signalReady(ReadyReason reason) {
  std::lock_guard lock(readyReasonMutex);
  if (reason == awaitedReason) platform::setEvent(readyEvent);
}

void awaitSynchronization() {
  std::lock_guard lock(readyReasonMutex);
  awaitedReason = ReadyReason::Synchronized;
  platform::waitForEvent(readyEvent, 0);
}
