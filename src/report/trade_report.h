// The report writer: turns the trade store into the report file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "intake/trade_store.h"
#include "report/report_file.h"

// Read from section "options" of the INI file each time a report is written.
struct ReportOptions {
  std::string reportFile = "ZUQTradeReport.txt";  // "report_file"
  std::string delimiter = ";";                    // "field_delimeter"
  int32_t printHeader = 0;                        // "print_header": non-zero writes the header
  int32_t dateFormat = 0;                         // "date_format": non-zero gives day/month/year
};

ReportOptions readReportOptions(const char* iniPath);

// Called once by the driver, on its thread, after the table synchronized.
// Logs the options, writes the header when asked and one line per stored
// trade of `store` in ascending revision order. A report rewritten in place
// waits at most `lockWaitMilliseconds` for another run that is writing it.
// Every failure is logged; running out of memory on the way is one too,
// which leaves the earlier report as it was. Returns true only when the
// report file was written whole.
bool writeTradeReport(const char* iniPath, TradeStore& store, uint32_t lockWaitMilliseconds = 0);

// The nineteen column names, each followed by the delimiter, then the local
// date and time of writing, then the line end.
void writeReportHeader(ReportFile& file, std::string_view delimiter, int32_t dateFormat);
