// The event that releases the driver's waits, signalled by the notification
// callback.
#pragma once

#include <cstdint>

#include "platform/event.h"
#include "platform/mutex.h"

// What the driver's pending wait is for. Only the matching notification
// releases it: a DS Connected that follows a lost and regained link must not
// pass for the table's synchronization, or a half-delivered table would be
// reported as complete.
enum class ReadyReason { DataServer, Synchronized };

// One auto-reset event, created not signalled, closed on destruction; the
// run owns it and keeps it until the library is closed.
class ReadyEvent {
 public:
  ReadyEvent();
  ~ReadyEvent();
  ReadyEvent(const ReadyEvent&) = delete;
  ReadyEvent& operator=(const ReadyEvent&) = delete;

  // Notification thread: signals when the driver's current (or next) wait is
  // for `reason`.
  void signal(ReadyReason reason) EXCLUDES(mutex_);

  // Driver, before it opens the table connection: from now on only
  // Synchronized signals, and a DS Connected signal still pending from
  // before is dropped. The table counts as not synchronized until then.
  void awaitSynchronization() EXCLUDES(mutex_);

  // Whether Synchronized has been signalled since the driver began awaiting
  // it: until then the table is still being delivered, and a Clear (the
  // server delivering it anew after a lost link) discards what was stored.
  bool tableSynchronized() EXCLUDES(mutex_);

  // Stop service's thread, on a stop request: releases the driver's
  // current wait, whatever it awaits, and every later one at once. The
  // driver looks for the request after each wait.
  void interrupt() EXCLUDES(mutex_);

  // Driver: platform::waitForEvent's result (signalled, timeout or failed);
  // signalled at once after interrupt().
  uint32_t wait(uint32_t milliseconds) EXCLUDES(mutex_);

 private:
  const platform::EventHandle handle_;
  // Guards the switch of the awaited reason against a DS Connected being
  // signalled at the same moment, which would otherwise leave a stale signal
  // for the synchronization wait.
  platform::Mutex mutex_;
  ReadyReason awaited_ GUARDED_BY(mutex_) = ReadyReason::DataServer;
  bool synchronized_ GUARDED_BY(mutex_) = false;
  bool interrupted_ GUARDED_BY(mutex_) = false;
};
