// One report line: nineteen columns of a kept trade, seen from the configured
// firm's side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "intake/firm_side.h"
#include "intake/trade_record.h"
#include "report/report_file.h"

// The texts a trade line writes, in column order, after the firm's side has
// chosen them.
enum LineText {
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
  kLineTextCount
};

// What a trade line writes, resolved for the firm's side when the row
// arrives; the texts view storage that outlives the line.
struct TradeLine {
  int32_t rowID = 0;
  int32_t status = 0;
  DateTimeValue deliveryDate{};
  DateTimeValue tradeMoment{};
  std::string_view texts[kLineTextCount];
};

// The line of `record` for the firm's `side`. The joined texts (Act, and
// Customer and Contra of a line that is no single side's) are built in
// *joined, which the line's texts view: it must stay unchanged while the
// line is in use.
TradeLine tradeLineOf(const TradeRecord& record, FirmSide side, std::string* joined);

// The "RepoAct" column: empty unless "type_ext" begins with an upper-case
// "R"; then the code for the first character of "repo_action" ("??" when it
// has none listed), from the Initiator column for an Initiator.
std::string_view repoActCode(const TradeRecord& record, FirmSide side);

// The three-letter mnemonic of a trade status, "???" for an unknown one.
const char* statusMnemonic(int32_t status);

// `text` (nothing when empty), then the delimiter.
void writeField(ReportFile& file, std::string_view text, std::string_view delimiter);

// The date only: year, month, day as digits for date format 0, else
// day/month/year.
void writeDate(ReportFile& file, const DateTimeValue& value, int32_t dateFormat);

// The time only: hour:minute:second.
void writeTime(ReportFile& file, const DateTimeValue& value);

// The whole line with its line end; the memo, last, has no delimiter.
void writeTradeLine(ReportFile& file, const TradeLine& line, std::string_view delimiter,
                    int32_t dateFormat);
