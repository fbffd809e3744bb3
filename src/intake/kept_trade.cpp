#include "intake/kept_trade.h"

#include <cstring>

namespace {

struct RepoCode {
  char action;
  const char* initiator;
  const char* otherSide;
};

constexpr RepoCode kRepoCodes[] = {
    {'1', "BS", "LS"}, {'2', "LS", "BS"}, {'3', "RS", "AS"},
    {'5', "BM", "LM"}, {'6', "LM", "BM"}, {'7', "RM", "AM"},
};

// Writes `first`, then `between`, then `second` at *at and moves *at past
// them; returns the view of the three.
std::string_view join(std::string_view first, std::string_view between, std::string_view second,
                      char** at) {
  char* const start = *at;
  char* out = start;
  for (std::string_view part : {first, between, second}) {
    if (!part.empty()) std::memcpy(out, part.data(), part.size());
    out += part.size();
  }
  *at = out;
  return std::string_view(start, static_cast<size_t>(out - start));
}

}  // namespace

KeptTrade keepTrade(const TradeRecord& record, FirmSide side, std::string* joined) {
  // Room for every joined text at once, so no view into *joined moves.
  joined->resize(record.init_action.size() + record.conf_action.size() + record.type.size() +
                 record.init_pair.size() + record.conf_pair.size() + record.init_name.size() +
                 record.conf_name.size() + 2);
  char* at = joined->data();
  KeptTrade line;
  line.rowID = record.rowID;
  line.status = record.status;
  line.deliveryDate = record.delivery_date;
  line.tradeMoment = record.trade_moment;
  std::string_view* texts = line.texts;
  texts[kIssueText] = record.issue_name;
  texts[kActText] = join(side == FirmSide::Confirmer ? record.conf_action : record.init_action, {},
                         record.type, &at);
  if (side == FirmSide::Initiator) {
    texts[kCustomerText] = record.init_pair;
    texts[kContraText] = record.conf_name;
  } else if (side == FirmSide::Confirmer) {
    texts[kCustomerText] = record.conf_pair;
    texts[kContraText] = record.init_name;
  } else {
    texts[kCustomerText] = join(record.init_pair, "-", record.conf_pair, &at);
    texts[kContraText] = join(record.init_name, "-", record.conf_name, &at);
  }
  texts[kPriceText] = record.price;
  texts[kQtyText] = record.qty;
  texts[kAmountText] = record.volume;
  texts[kCurrText] = record.payment_currency;
  texts[kClrText] = record.dcc;
  texts[kTypeExtText] = record.type_ext;
  texts[kTradeRefText] = record.trade_ref;
  texts[kRepoActText] = repoActCode(record, side);
  texts[kRepurchaseText] = record.repurchase;
  if (side == FirmSide::Initiator || side == FirmSide::Both) texts[kMemoText] = record.init_memo;
  if (side == FirmSide::Confirmer) texts[kMemoText] = record.conf_memo;
  return line;
}

std::string_view repoActCode(const TradeRecord& record, FirmSide side) {
  if (!record.type_ext.starts_with('R')) return {};
  const bool initiator = side == FirmSide::Initiator;
  if (!record.repo_action.empty()) {
    for (const RepoCode& code : kRepoCodes) {
      if (code.action == record.repo_action[0]) return initiator ? code.initiator : code.otherSide;
    }
  }
  return "??";
}
