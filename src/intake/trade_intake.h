// The row intake: decodes, filters and stores the rows of table "Trade".
#pragma once

#include "intake/filter_tally.h"
#include "intake/trade_record.h"
#include "intake/trade_selection.h"
#include "intake/trade_store.h"
#include "online/online_library.h"

// What the filters make of one trade.
enum class TradeVerdict {
  Kept,
  // Neither side is the configured firm.
  OtherFirm,
  // Neither side is the configured firm, but one is its code in another
  // case: the code is compared exactly.
  FirmInOtherCase,
  // The firm's trade (any trade, with no firm configured) whose status is
  // not the one trade_status asks for, or repotrade_status for a repo trade.
  OtherStatus,
  OtherRepoStatus,
};

// Whether the run keeps `record`, and if not, why: the configured firm is
// on one of its sides (any firm when none is configured) and its status
// matches (the repo status for a "type_ext" beginning with "R"; 0 keeps
// every status).
TradeVerdict judgeTrade(const TradeRecord& record, const TradeSelection& selection);

inline bool keepsTrade(const TradeRecord& record, const TradeSelection& selection) {
  return judgeTrade(record, selection) == TradeVerdict::Kept;
}

// Called by onlineCallback on the notification thread for every AddRow.
// Stores the row, seen from the firm's side, when the run keeps it, unless
// its "rev" is already stored; a row not kept for its firm's case or its
// status is counted in *turnedAway. False when the run keeps it but the
// store has reached its limit: the row is then not stored.
bool addTradeRow(const RowNotice& row, const TradeSelection& selection, TradeStore& store,
                 FilterTally& turnedAway);
