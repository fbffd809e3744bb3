#include "intake/trade_intake.h"

#include "intake/firm_side.h"
#include "intake/trade_columns.h"

TradeVerdict judgeTrade(const TradeRecord& record, const TradeSelection& selection) {
  const std::string_view firm = selection.firmCode;
  if (!firm.empty() && !firmMatches(record.init_name, firm) &&
      !firmMatches(record.conf_name, firm)) {
    // Only a row that the exact comparison dropped is compared again, and
    // only a name of the code's length costs more than that length's test.
    return firmMatchesInOtherCase(record.init_name, firm) ||
                   firmMatchesInOtherCase(record.conf_name, firm)
               ? TradeVerdict::FirmInOtherCase
               : TradeVerdict::OtherFirm;
  }
  const bool repo = record.type_ext.starts_with('R');
  const int32_t wanted = repo ? selection.repoTradeStatus : selection.tradeStatus;
  if (wanted == 0 || record.status == wanted) return TradeVerdict::Kept;
  return repo ? TradeVerdict::OtherRepoStatus : TradeVerdict::OtherStatus;
}

namespace {

// Counts a row that was not kept where the run can explain it: a firm
// code in another case, or a status not asked for.
void tallyTurnedAway(TradeVerdict verdict, const TradeRecord& record,
                     const TradeSelection& selection, FilterTally& turnedAway) {
  switch (verdict) {
    case TradeVerdict::FirmInOtherCase:
      turnedAway.countOtherCase(firmMatchesInOtherCase(record.init_name, selection.firmCode)
                                    ? record.init_name
                                    : record.conf_name);
      break;
    case TradeVerdict::OtherStatus:
      turnedAway.statuses[0].add(record.status);
      break;
    case TradeVerdict::OtherRepoStatus:
      turnedAway.statuses[1].add(record.status);
      break;
    default:
      break;
  }
}

}  // namespace

bool addTradeRow(const RowNotice& row, const TradeSelection& selection, TradeStore& store,
                 FilterTally& turnedAway) {
  uint32_t key = 0;
  // The filters need no date-time: a dropped row costs no date parsing, and
  // a kept one only that of the date-times its line writes. Columns that
  // nothing reads are not decoded at all.
  TradeRecord record = decodeKeptFields(row, &key);
  const TradeVerdict verdict = judgeTrade(record, selection);
  if (verdict != TradeVerdict::Kept) {
    if (verdict != TradeVerdict::OtherFirm) tallyTurnedAway(verdict, record, selection, turnedAway);
    return true;
  }
  decodeReportedDates(row, &record);
  return store.add(key, record, firmSide(record, selection.firmCode));
}
