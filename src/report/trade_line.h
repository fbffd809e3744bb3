// One report line: nineteen columns of a kept trade, seen from the configured
// firm's side, written to the report file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "intake/kept_trade.h"
#include "report/report_file.h"

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
void writeTradeLine(ReportFile& file, const KeptTrade& line, std::string_view delimiter,
                    int32_t dateFormat);
