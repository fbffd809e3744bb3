// One report line: the columns of a kept trade (report_columns.h), seen from the configured
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

// A text of a kept trade that a reader of the report would split: it holds
// the delimiter (an empty delimiter never splits) or a line feed, which the
// line writes as they are.
struct StraySeparator {
  int text = -1;          // the KeptText that holds it; -1: none does
  bool lineFeed = false;  // a line feed (else the delimiter)
  explicit operator bool() const { return text >= 0; }
};

// The first such text of `line`, in column order.
StraySeparator findStraySeparator(const KeptTrade& line, std::string_view delimiter);

struct StraySeparators;

// writeTradeLine, then strayed->count(line, delimiter), for less: the line
// as laid out is looked through once, for its line feeds and its
// delimiters, and its texts one by one only when that finds more than the
// line's own.
void writeCountedTradeLine(ReportFile& file, const KeptTrade& line, std::string_view delimiter,
                           int32_t dateFormat, StraySeparators* strayed);

// The kept trades that hold a stray separator, counted in the order of the
// report's lines, with the first of them.
struct StraySeparators {
  size_t trades = 0;
  int32_t firstRowID = 0;
  StraySeparator first;

  // Looks `line` through and counts it when it holds one.
  void count(const KeptTrade& line, std::string_view delimiter);
  // Adds the count of lines that come after the ones counted here.
  void append(const StraySeparators& later);
};
