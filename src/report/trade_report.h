// The report writer: turns the trade store into the report file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "intake/trade_store.h"
#include "report/report_file.h"
#include "report/trade_line.h"

// Read from section "options" of the INI file each time a report is written
// (by the reader the driver hands over, which knows the keys' defaults).
struct ReportOptions {
  std::string reportFile;   // "report_file"
  std::string delimiter;    // "field_delimeter"
  int32_t printHeader = 0;  // "print_header": non-zero writes the header
  int32_t dateFormat = 0;   // "date_format": non-zero gives day/month/year
};

// Reads the report's options when the report is written.
using ReportOptionsReader = std::function<ReportOptions()>;

// What became of one report, for the run's closing line.
struct ReportOutcome {
  bool written = false;      // the report file stands whole at its path
  std::string absolutePath;  // the report's path, absolute
  size_t tradeLines = 0;     // trade lines written (header not counted)
  // Why there is no report, in a few words with the system's reason, such
  // as "cannot open '/srv/out/x.txt': No such file or directory".
  std::string failure;
  // No report because a stop was requested (platform::stopRequest) before
  // it stood at its path: an earlier report is as it was. `failure` is
  // empty then; the request's name is the driver's to tell.
  bool stopped = false;
  // Of a report written: what its content may mislead a reader with, each a
  // text for a line "[ZUQTradeReport] Warning: TEXT" (the texts that hold
  // the delimiter or a line feed).
  std::vector<std::string> warnings;
  explicit operator bool() const { return written; }
};

// Called once by the driver, on its thread, after the table synchronized.
// Reads the options (`readOptions`), logs them, writes the header when asked and one line per
// stored trade of `store` in ascending revision order. Every failure is logged in one line; running
// out of memory on the way is one too, which leaves the earlier report as it was. A report path
// that is the INI file itself, or a table file the library's embedded data server reads
// (`tableFiles`), is refused as a file that can't be opened: writing it would destroy the run's own
// input. A report rewritten in place waits at most `lockWaitMilliseconds` for another run that is
// writing it. The warnings about what it wrote are the driver's to log. A stop request is looked
// for between batches of lines and before the report is put in place: the writing is then given up,
// its temporary file removed, and the earlier report kept; once a report rewritten in place has its
// new length, it is finished first.
ReportOutcome writeTradeReport(const ReportOptionsReader& readOptions, const char* iniPath,
                               TradeStore& store, const std::vector<std::string>& tableFiles = {},
                               uint32_t lockWaitMilliseconds = 0);

// The column names (report_columns.h), each followed by the delimiter, then the local
// date and time of writing, then the line end.
void writeReportHeader(ReportFile& file, std::string_view delimiter, int32_t dateFormat);

// The warning about `strayed` trade lines of a report written with
// `delimiter`: their count, and the first one's rowID, column and what it
// holds. Empty when no line holds a stray separator.
std::string straySeparatorWarning(const StraySeparators& strayed, std::string_view delimiter);
