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

KeptTrade keepTrade(const TradeRecord& r, FirmSide side, std::string* joined) {
  // Room for every joined text at once, so no view into *joined moves.
  joined->resize(r.init_action.size() + r.conf_action.size() + r.type.size() + r.init_pair.size() +
                 r.conf_pair.size() + r.init_name.size() + r.conf_name.size() + 2);
  char* at = joined->data();
  KeptTrade line;
  line.rowID = r.rowID;
  line.status = r.status;
  line.deliveryDate = r.delivery_date;
  line.tradeMoment = r.trade_moment;
  std::string_view* t = line.texts;
  t[kIssueText] = r.issue_name;
  t[kActText] = join(side == FirmSide::Confirmer ? r.conf_action : r.init_action, {}, r.type, &at);
  if (side == FirmSide::Initiator) {
    t[kCustomerText] = r.init_pair;
    t[kContraText] = r.conf_name;
  } else if (side == FirmSide::Confirmer) {
    t[kCustomerText] = r.conf_pair;
    t[kContraText] = r.init_name;
  } else {
    t[kCustomerText] = join(r.init_pair, "-", r.conf_pair, &at);
    t[kContraText] = join(r.init_name, "-", r.conf_name, &at);
  }
  t[kPriceText] = r.price;
  t[kQtyText] = r.qty;
  t[kAmountText] = r.volume;
  t[kCurrText] = r.payment_currency;
  t[kClrText] = r.dcc;
  t[kTypeExtText] = r.type_ext;
  t[kTradeRefText] = r.trade_ref;
  t[kRepoActText] = repoActCode(r, side);
  t[kRepurchaseText] = r.repurchase;
  if (side == FirmSide::Initiator || side == FirmSide::Both) t[kMemoText] = r.init_memo;
  if (side == FirmSide::Confirmer) t[kMemoText] = r.conf_memo;
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
