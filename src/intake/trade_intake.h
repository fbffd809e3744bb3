// The row intake: decodes, filters and stores the rows of table "Trade".
#pragma once

#include "intake/trade_record.h"
#include "intake/trade_selection.h"
#include "intake/trade_store.h"
#include "online/online_library.h"

// Whether the run keeps `record`: the configured firm is on one of its sides
// (any firm when none is configured) and its status matches (the repo status
// for a "type_ext" beginning with "R"; 0 keeps every status).
bool keepsTrade(const TradeRecord& record, const TradeSelection& selection);

// Called by onlineCallback on the notification thread for every AddRow.
// Stores the row, seen from the firm's side, when the run keeps it, unless
// its "rev" is already stored. False when the run keeps it but the store
// has reached its limit: the row is then not stored.
bool addTradeRow(const RowNotice& row, const TradeSelection& selection, TradeStore& store);
