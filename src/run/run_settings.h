// The run's selection settings, read from the INI file by the driver.
#pragma once

#include <cstdint>
#include <string>

// Written by the driver only: the sync timeout before the first wait, the
// rest after it and before the "Trade" connection is opened, so every row
// sees them complete. Read-only afterwards.
inline constexpr uint64_t kRowsPerCountLine = 100000;

struct RunSettings {
  int32_t syncTimeout = 10;     // seconds, "sync_timeout"
  std::string issue;            // "trade_issue"
  std::string firmCode;         // "trade_participant"
  int32_t tradeStatus = 0;      // "trade_status"
  int32_t repoTradeStatus = 0;  // "repotrade_status"
  // "log_rows": non-zero logs every AddRow, UpdateRow and DeleteRow; 0 logs
  // none of them, only a count every kRowsPerCountLine rows received.
  int32_t logRows = 1;
};
