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

// Copies `text` to `out`; returns the end of the copy.
char* append(char* out, std::string_view text) {
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Writes `first`, then `second` at *at and moves *at past them; returns the
// view of the two.
std::string_view join(std::string_view first, std::string_view second, char** at) {
  char* const start = *at;
  *at = append(append(start, first), second);
  return std::string_view(start, static_cast<size_t>(*at - start));
}

// As above, with `separator` between the two: a byte written as it is
// rather than a text copied, since every row joins two such pairs.
std::string_view join(std::string_view first, char separator, std::string_view second, char** at) {
  char* const start = *at;
  char* out = append(start, first);
  *out++ = separator;
  *at = append(out, second);
  return std::string_view(start, static_cast<size_t>(*at - start));
}

}  // namespace

KeptTrade keepTrade(const TradeRecord& record, FirmSide side, std::string* joined) {
  // Room for every joined text at once, so no view into *joined moves.
  joined->resize(record.init_action.size() + record.conf_action.size() + record.type.size() +
                 record.init_pair.size() + record.conf_pair.size() + record.init_name.size() +
                 record.conf_name.size() + 2);
  char* at = joined->data();
  const std::string_view act =
      join(side == FirmSide::Confirmer ? record.conf_action : record.init_action, record.type, &at);
  std::string_view customer;
  std::string_view contra;
  std::string_view memo;
  if (side == FirmSide::Initiator) {
    customer = record.init_pair;
    contra = record.conf_name;
    memo = record.init_memo;
  } else if (side == FirmSide::Confirmer) {
    customer = record.conf_pair;
    contra = record.init_name;
    memo = record.conf_memo;
  } else {
    customer = join(record.init_pair, '-', record.conf_pair, &at);
    contra = join(record.init_name, '-', record.conf_name, &at);
    if (side == FirmSide::Both) memo = record.init_memo;
  }
  // Every member given, in the order of KeptText: a value built field by
  // field would first be zeroed whole, once per row.
  static_assert(kKeptTextCount == 14, "one text below per KeptText");
  return KeptTrade{record.rowID,
                   record.status,
                   record.delivery_date,
                   record.trade_moment,
                   {record.issue_name, act, customer, contra, record.price, record.qty,
                    record.volume, record.payment_currency, record.dcc, record.type_ext,
                    record.trade_ref, repoActCode(record, side), record.repurchase, memo}};
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
