// Which trades of table "Trade" the intake keeps.
#pragma once

#include <cstdint>
#include <string>

// Set before the "Trade" connection is opened and read-only afterwards, so
// that every row sees it complete.
struct TradeSelection {
  std::string firmCode;         // "trade_participant"; empty keeps every firm
  int32_t tradeStatus = 0;      // "trade_status"; 0 keeps every status
  int32_t repoTradeStatus = 0;  // "repotrade_status", for repo trades
};
