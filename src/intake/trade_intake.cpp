#include "intake/trade_intake.h"

#include <string>

#include "intake/firm_side.h"
#include "intake/trade_columns.h"
#include "report/trade_line.h"

bool keepsTrade(const TradeRecord& record, const RunSettings& settings) {
  if (!settings.firmCode.empty() && !firmMatches(record.init_name, settings.firmCode) &&
      !firmMatches(record.conf_name, settings.firmCode)) {
    return false;
  }
  const bool repo = record.type_ext.starts_with('R');
  const int32_t wanted = repo ? settings.repoTradeStatus : settings.tradeStatus;
  return wanted == 0 || record.status == wanted;
}

void addTradeRow(const RowNotice& row, const RunSettings& settings, TradeStore& store) {
  uint32_t key = 0;
  const TradeRecord record = decodeTradeRow(row, &key);
  if (!keepsTrade(record, settings)) return;
  // The joined texts of a line seen from neither or both sides; reused, since
  // the notification thread is the only caller.
  thread_local std::string joined;
  const FirmSide side = firmSide(record, settings.firmCode);
  store.add(key, tradeLineOf(record, side, &joined));
}
