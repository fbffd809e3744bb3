#include "intake/trade_intake.h"

#include "intake/firm_side.h"
#include "intake/trade_columns.h"

bool keepsTrade(const TradeRecord& record, const TradeSelection& selection) {
  if (!selection.firmCode.empty() && !firmMatches(record.init_name, selection.firmCode) &&
      !firmMatches(record.conf_name, selection.firmCode)) {
    return false;
  }
  const bool repo = record.type_ext.starts_with('R');
  const int32_t wanted = repo ? selection.repoTradeStatus : selection.tradeStatus;
  return wanted == 0 || record.status == wanted;
}

bool addTradeRow(const RowNotice& row, const TradeSelection& selection, TradeStore& store) {
  uint32_t key = 0;
  // The filters need no date-time: a dropped row costs no date parsing, and
  // a kept one only that of the date-times its line writes. Columns that
  // nothing reads are not decoded at all.
  TradeRecord record = decodeKeptFields(row, &key);
  if (!keepsTrade(record, selection)) return true;
  decodeReportedDates(row, &record);
  return store.add(key, record, firmSide(record, selection.firmCode));
}
