#include "intake/trade_intake.h"

#include <string_view>

#include "intake/firm_side.h"
#include "intake/trade_record.h"
#include "intake/trade_store.h"
#include "run/run_settings.h"

namespace {

// Positions in the requested column list.
enum Column {
  kRev,
  kInitName,
  kInitAction,
  kInitPair,
  kInitMemo,
  kConfName,
  kConfAction,
  kConfPair,
  kConfMemo,
  kIssueName,
  kStatus,
  kPrice,
  kQty,
  kVolume,
  kTradeMoment,
  kAffirmMoment,
  kPriceCurrency,
  kPriceRate,
  kPaymentCurrency,
  kPaymentRate,
  kDeliveryDate,
  kClear,
  kDcc,
  kType,
  kTypeExt,
  kTradeRef,
  kRepoAction,
  kRepurchase
};
static_assert(kRepurchase + 1 == kTradeColumnCount);

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

class RowValues {
 public:
  explicit RowValues(const RowNotice& row) : row_(row) {}
  const char* text(Column column) const {
    const char* value = row_.values[column];
    return value ? value : "";
  }
  std::string_view view(Column column) const { return text(column); }
  void date(Column column, DateTimeValue* into) const {
    zuqonlStringToDateTime(text(column), into);
  }

 private:
  const RowNotice& row_;
};

// The firm and status filters, applied to the raw values so that dropped rows
// cost no decoding.
bool passesFilters(const RowValues& values) {
  if (!runSettings.firmCode.empty() && !firmMatches(values.view(kInitName)) &&
      !firmMatches(values.view(kConfName))) {
    return false;
  }
  const bool repo = values.text(kTypeExt)[0] == 'R';
  const int32_t wanted = repo ? runSettings.repoTradeStatus : runSettings.tradeStatus;
  return wanted == 0 || static_cast<int32_t>(decimalValue(values.text(kStatus))) == wanted;
}

TradeRecord decode(const RowNotice& row, const RowValues& values) {
  TradeRecord record;
  record.rowID = row.rowID;
  record.init_name = values.view(kInitName);
  record.init_action = values.view(kInitAction);
  record.init_pair = values.view(kInitPair);
  record.init_memo = values.view(kInitMemo);
  record.conf_name = values.view(kConfName);
  record.conf_action = values.view(kConfAction);
  record.conf_pair = values.view(kConfPair);
  record.conf_memo = values.view(kConfMemo);
  record.issue_name = values.view(kIssueName);
  record.status = static_cast<int32_t>(decimalValue(values.text(kStatus)));
  record.price = values.view(kPrice);
  record.qty = values.view(kQty);
  record.volume = values.view(kVolume);
  values.date(kTradeMoment, &record.trade_moment);
  values.date(kAffirmMoment, &record.affirm_moment);
  record.price_currency = values.view(kPriceCurrency);
  record.price_rate = values.view(kPriceRate);
  record.payment_currency = values.view(kPaymentCurrency);
  record.payment_rate = values.view(kPaymentRate);
  values.date(kDeliveryDate, &record.delivery_date);
  record.clear = values.view(kClear);
  record.dcc = values.view(kDcc);
  record.type = values.view(kType);
  record.type_ext = values.view(kTypeExt);
  record.trade_ref = values.view(kTradeRef);
  record.repo_action = values.view(kRepoAction);
  record.repurchase = values.view(kRepurchase);
  return record;
}

}  // namespace

uint32_t decimalValue(const char* text) {
  if (!text) return 0;
  while (isBlank(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + uint32_t(*text - '0');
  return negative ? 0u - value : value;
}

void addTradeRow(const RowNotice& row) {
  const RowValues values(row);
  if (!passesFilters(values)) return;
  storeTrade(decimalValue(values.text(kRev)), decode(row, values));
}
