// One report line: nineteen columns of a stored trade, seen from the
// configured firm's side. Called by the report writer on the driver's thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "intake/trade_record.h"
#include "report/report_file.h"

// The "Act" column: the action of the firm's side followed by "type".
std::string actText(const TradeRecord& record);

// The "RepoAct" column: empty unless "type_ext" begins with an upper-case
// "R"; then the code for the first character of "repo_action" ("??" when it
// has none listed).
std::string_view repoActCode(const TradeRecord& record);

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
void writeTradeLine(ReportFile& file, const TradeRecord& record, std::string_view delimiter,
                    int32_t dateFormat);
