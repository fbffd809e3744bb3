// The process-wide store of kept trades, ordered by revision number.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "intake/trade_record.h"

// Key: the row's "rev" as an unsigned 32-bit number; unique, ascending.
using TradeStore = std::map<uint32_t, TradeRecord>;

// The notification thread inserts while the driver's thread may be walking
// (the "Trade" connection stays open during the report), so both go through
// tradeStoreMutex: an insertion holds it for the insertion, a walk for the
// whole walk. Every row stored before the synchronization signal is
// therefore in the walk, and the walk never sees a half-inserted entry.
extern std::mutex tradeStoreMutex;
extern TradeStore tradeStore;  // guarded by tradeStoreMutex

// Files `record` under `key` unless the key is already stored (the first row
// per key stays). Returns whether it was filed.
bool storeTrade(uint32_t key, TradeRecord&& record);

// Discards every stored trade: the table is being delivered anew.
void clearTradeStore();

// Calls `visit` for every stored record in ascending key order, holding the
// store's lock throughout; `visit` must not store trades.
void walkTradeStore(const std::function<void(const TradeRecord&)>& visit);
