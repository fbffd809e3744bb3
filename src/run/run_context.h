// Everything one run of the program holds: its settings, the event that
// releases the driver's waits, and the store of kept trades.
#pragma once

#include "intake/trade_store.h"
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
};
