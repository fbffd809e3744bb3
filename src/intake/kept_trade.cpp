#include "intake/kept_trade.h"

#include <utility>

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

// Every member given, the texts in the order of KeptText: a value built
// field by field would first be zeroed whole, once per row.
template <size_t... Texts>
KeptTrade keepTexts(const TradeRecord& record, FirmSide side, TextJoiner& joiner,
                    std::index_sequence<Texts...>) {
  return KeptTrade{record.rowID,
                   record.status,
                   record.delivery_date,
                   record.trade_moment,
                   {keptText<static_cast<KeptText>(Texts)>(record, side, joiner)...}};
}

}  // namespace

KeptTrade keepTrade(const TradeRecord& record, FirmSide side, std::string* joined) {
  // Room for every joined text at once, so no view into *joined moves.
  joined->resize(joinedRoom(record));
  TextJoiner joiner(joined->data());
  return keepTexts(record, side, joiner, std::make_index_sequence<kKeptTextCount>());
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
