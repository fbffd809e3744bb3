// Everything one run of the program holds: its settings, the event that
// releases the driver's waits, and the store of kept trades.
#pragma once

#include <atomic>
#include <cstdint>

#include "intake/filter_tally.h"
#include "intake/trade_store.h"
#include "run/link_record.h"
#include "run/ready_event.h"
#include "run/run_settings.h"

// Owned by runTradeReport for the length of the run. The notification
// callback reaches it through the one pointer that a callback without a user
// argument needs (attachRunContext); the driver's functions take it, or the
// part they need, as parameters.
struct RunContext {
  RunSettings settings;
  ReadyEvent ready;
  TradeStore store;
  // Set by the notification thread when a kept trade could not be stored
  // (out of memory, or beyond max_store_mb): the table can no longer be
  // reported whole, so the run ends without a report.
  std::atomic<bool> tradesLost{false};
  // Set before tradesLost when the store's limit was the cause.
  std::atomic<bool> overStoreLimit{false};
  // AddRow notifications received, kept or not. Counted by the notification
  // thread, read by the driver for the run's closing line.
  std::atomic<uint64_t> rowsReceived{0};
  // The link's losses and the library's last Error, for the closing line.
  LinkRecord link;
  // What the filters turned away, counted by the notification thread as the
  // rows come (and reset with the store by a Clear before synchronization).
  // Copied into turnedAwayAtSynchronization once, on the table's first
  // Synchronized and before its signal: the driver, released by that
  // signal, reads only the copy while later rows go on being counted.
  FilterTally turnedAway;
  FilterTally turnedAwayAtSynchronization;
  // "[ZUQTradeReport] Warning: " lines the run has logged (logRunWarning in
  // run/run_warnings.h), for its closing line. Driver thread only.
  unsigned warningsLogged = 0;
};
