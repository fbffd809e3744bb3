#include "intake/trade_store.h"

std::mutex tradeStoreMutex;
TradeStore tradeStore;

bool storeTrade(uint32_t key, TradeRecord&& record) {
  std::lock_guard lock(tradeStoreMutex);
  return tradeStore.try_emplace(key, std::move(record)).second;
}

void clearTradeStore() {
  std::lock_guard lock(tradeStoreMutex);
  tradeStore.clear();
}

void walkTradeStore(const std::function<void(const TradeRecord&)>& visit) {
  std::lock_guard lock(tradeStoreMutex);
  for (const auto& [key, record] : tradeStore) visit(record);
}
