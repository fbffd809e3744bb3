// What the store keeps of each trade: the texts and values its report line
// writes, already chosen for the configured firm's side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "intake/firm_side.h"
#include "intake/trade_record.h"

// The texts a trade line writes, in column order, after the firm's side has
// chosen them.
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

// The "RepoAct" column: empty unless "type_ext" begins with an upper-case
// "R"; then the code for the first character of "repo_action" ("??" when it
// has none listed), from the Initiator column for an Initiator.
std::string_view repoActCode(const TradeRecord& record, FirmSide side);
