// Everything the intake of one run holds: which trades it keeps, the store
// they go to, the event that releases the driver's waits, what it counted on
// the way and how it ended.
#pragma once

#include <atomic>
#include <cstdint>

#include "intake/filter_tally.h"
#include "intake/link_record.h"
#include "intake/ready_event.h"
#include "intake/trade_selection.h"
#include "intake/trade_store.h"

// With the rows not logged one by one, a line counts the rows received
// every so many rows.
inline constexpr uint64_t kRowsPerCountLine = 100000;

// How the intake stands. It leaves Running at most once, for the first
// kept trade that could not be stored before the table was synchronized:
// the table can then no longer be reported whole, and the run ends without
// a report.
enum class IntakeEnd {
  Running,
  OutOfMemory,     // the memory ran out
  OverStoreLimit,  // the kept trades would exceed the store's limit
};

// Owned by the run (RunContext) for its length. The notification callback
// reaches it through the one pointer that a callback without a user
// argument needs (attachIntake); the driver sets what it keeps and reads what
// it counted.
struct IntakeContext {
  // Set by the driver before the "Trade" connection is opened, and read-only
  // afterwards, so that every row sees them complete.
  TradeSelection selection;
  // Every AddRow, UpdateRow and DeleteRow logged; else none of them, only a
  // count every kRowsPerCountLine rows received.
  bool logRows = false;
  // The store's limit in MiB, as the line that it was reached names it.
  uint32_t storeLimitMiB = 0;

  ReadyEvent ready;
  TradeStore store;
  std::atomic<IntakeEnd> end{IntakeEnd::Running};
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
};
