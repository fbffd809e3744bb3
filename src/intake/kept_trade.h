// What the store keeps of each trade: the texts and values its report line
// writes, already chosen for the configured firm's side.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "intake/firm_side.h"
#include "intake/trade_record.h"

// The texts a trade line writes, in the order of the report's columns
// (report/report_columns.h names the column of each); the rule that decides
// each one for the firm's side is keptText() below (or, for a text that is
// a column as the row has it, kTextsAsTheRowHasThem).
enum KeptText {
  kIssueText,
  kActText,
  kCustomerText,
  kContraText,
  kPriceText,
  kQtyText,
  kAmountText,
  kCurrText,
  kClrText,
  kTypeExtText,
  kTradeRefText,
  kRepoActText,
  kRepurchaseText,
  kMemoText,
  kKeptTextCount
};

// Builds a kept trade's joined texts one after the other in room made ready
// for them (joinedRoom()); the views it returns stay valid while that room
// is unchanged.
class TextJoiner {
 public:
  explicit TextJoiner(char* room) : at_(room) {}

  // `first`, then `second`.
  std::string_view join(std::string_view first, std::string_view second) {
    char* const start = at_;
    at_ = append(append(start, first), second);
    return std::string_view(start, static_cast<size_t>(at_ - start));
  }

  // As above, with `separator` between the two: a byte written as it is
  // rather than a text copied, since every row joins two such pairs.
  std::string_view join(std::string_view first, char separator, std::string_view second) {
    char* const start = at_;
    char* out = append(start, first);
    *out++ = separator;
    at_ = append(out, second);
    return std::string_view(start, static_cast<size_t>(at_ - start));
  }

 private:
  static char* append(char* out, std::string_view text) {
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    return out + text.size();
  }

  char* at_;
};

// The "RepoAct" column: empty unless "type_ext" begins with an upper-case
// "R"; then the code for the first character of "repo_action" ("??" when it
// has none listed), from the Initiator column for an Initiator.
std::string_view repoActCode(const TradeRecord& record, FirmSide side);

// The kept texts that are a column of the row as it is, whichever side the
// firm is on.
// clang-format off
inline constexpr std::pair<KeptText, std::string_view TradeRecord::*> kTextsAsTheRowHasThem[] = {
    {kIssueText, &TradeRecord::issue_name}, {kPriceText, &TradeRecord::price},
    {kQtyText, &TradeRecord::qty}, {kAmountText, &TradeRecord::volume},
    {kCurrText, &TradeRecord::payment_currency}, {kClrText, &TradeRecord::dcc},
    {kTypeExtText, &TradeRecord::type_ext}, {kTradeRefText, &TradeRecord::trade_ref},
    {kRepurchaseText, &TradeRecord::repurchase},
};
// clang-format on

// The row's column that is the kept text `Text`, or null where a rule of
// keptText() decides it.
template <KeptText Text>
inline constexpr std::string_view TradeRecord::*kColumnAsItIs = [] {
  for (const auto& [kept, column] : kTextsAsTheRowHasThem) {
    if (kept == Text) return column;
  }
  return static_cast<std::string_view TradeRecord::*>(nullptr);
}();

// The kept text `Text` of `record` for the firm's `side`. A side that is
// neither the Initiator nor the Confirmer alone (Both, or None when no firm
// is configured or it is on neither side) is "no single side's".
template <KeptText Text>
std::string_view keptText(const TradeRecord& record, FirmSide side, TextJoiner& joiner) {
  const bool initiator = side == FirmSide::Initiator;
  const bool confirmer = side == FirmSide::Confirmer;
  if constexpr (kColumnAsItIs<Text> != nullptr) {
    return record.*kColumnAsItIs<Text>;
  } else if constexpr (Text == kActText) {
    // The firm's action (the Initiator's unless the firm is the Confirmer),
    // then the trade's type.
    return joiner.join(confirmer ? record.conf_action : record.init_action, record.type);
  } else if constexpr (Text == kCustomerText) {
    // The firm's pair; of a trade that is no single side's, both pairs.
    if (initiator) return record.init_pair;
    if (confirmer) return record.conf_pair;
    return joiner.join(record.init_pair, '-', record.conf_pair);
  } else if constexpr (Text == kContraText) {
    // The other side's firm; of a trade that is no single side's, both.
    if (initiator) return record.conf_name;
    if (confirmer) return record.init_name;
    return joiner.join(record.init_name, '-', record.conf_name);
  } else if constexpr (Text == kRepoActText) {
    return repoActCode(record, side);
  } else if constexpr (Text == kMemoText) {
    // The firm's memo; the Initiator's when the firm is on both sides, none
    // when it is on neither.
    if (confirmer) return record.conf_memo;
    return initiator || side == FirmSide::Both ? record.init_memo : std::string_view();
  } else {
    static_assert(Text == kKeptTextCount, "every kept text has its rule here");
    return {};
  }
}

// The room that the joins of keptText() take for `record`: every text they
// may join, and a separator for each join of two firms' texts.
inline size_t joinedRoom(const TradeRecord& record) {
  return record.init_action.size() + record.conf_action.size() + record.type.size() +
         record.init_pair.size() + record.conf_pair.size() + record.init_name.size() +
         record.conf_name.size() + 2;
}

// A kept trade: what its report line writes, resolved for the firm's side
// when the row arrives; the texts view storage that outlives the value.
struct KeptTrade {
  int32_t rowID = 0;
  int32_t status = 0;
  DateTimeValue deliveryDate{};
  DateTimeValue tradeMoment{};
  std::string_view texts[kKeptTextCount];
};

// What is kept of `record` for the firm's `side`. The joined texts (Act, and
// Customer and Contra of a trade that is no single side's) are built in
// *joined, which the kept texts view: it must stay unchanged while the
// value is in use.
KeptTrade keepTrade(const TradeRecord& record, FirmSide side, std::string* joined);
