// The run's selection settings and the event that releases the driver's
// waits. Both are process-wide: the driver writes them, the notification
// callback reads them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/event.h"

// Written by the driver only: the sync timeout before the first wait, the
// rest after it and before the "Trade" connection is opened, so every row
// sees them complete. Read-only afterwards.
struct RunSettings {
  int32_t syncTimeout = 10;     // seconds, "sync_timeout"
  std::string issue;            // "trade_issue"
  std::string firmCode;         // "trade_participant"
  int32_t tradeStatus = 0;      // "trade_status"
  int32_t repoTradeStatus = 0;  // "repotrade_status"
};

extern RunSettings runSettings;

// What the driver's pending wait is for. Only the matching notification
// releases it: a DS Connected that follows a lost and regained link must not
// pass for the table's synchronization, or a half-delivered table would be
// reported as complete.
enum class ReadyReason { DataServer, Synchronized };

// Created by the driver before the library starts, closed after it stops.
extern platform::EventHandle readyEvent;

// Called by the notification callback: signals readyEvent when the driver's
// current (or next) wait is for `reason`.
void signalReady(ReadyReason reason);

// Called by the driver before it opens the table connection: from now on only
// Synchronized signals readyEvent, and a DS Connected signal still pending
// from before is dropped. The table counts as not synchronized until then.
void awaitSynchronization();

// Whether Synchronized has been signalled since the driver began awaiting
// it: until then the table is still being delivered, and a Clear (the server
// delivering it anew after a lost link) discards the trades stored so far.
bool tableSynchronized();
