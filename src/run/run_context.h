// Everything one run of the program holds: its settings, the event that
// releases the driver's waits, and the store of kept trades.
#pragma once

#include <atomic>
#include <cstdint>

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
};
