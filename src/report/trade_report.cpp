#include "report/trade_report.h"

#include "online/online_library.h"
#include "platform/local_time.h"
#include "platform/profile.h"
#include "report/trade_line.h"

namespace {

constexpr char kOptions[] = "options";

constexpr const char* kColumnNames[] = {
    "Issue",   "Act",      "Stat",    "Customer",   "Contra", "Price", "Qty",
    "Amount",  "Curr",     "Settle",  "Trans",      "Date",   "Time",  "Clr",
    "TypeExt", "TradeRef", "RepoAct", "Repurchase", "Memo",
};

std::string readText(const char* key, const char* defaultValue, const char* iniPath) {
  char buffer[256];
  platform::getProfileString(kOptions, key, defaultValue, buffer, sizeof buffer, iniPath);
  return buffer;
}

DateTimeValue localDateTime() {
  const platform::LocalTime now = platform::localTime();
  return DateTimeValue{now.year, now.month,  now.dayOfWeek, now.day,
                       now.hour, now.minute, now.second,    now.milliseconds};
}

}  // namespace

ReportOptions readReportOptions(const char* iniPath) {
  ReportOptions options;
  options.reportFile = readText("report_file", "ZUQTradeReport.txt", iniPath);
  options.delimiter = readText("field_delimeter", ";", iniPath);
  options.printHeader =
      static_cast<int32_t>(platform::getProfileInt(kOptions, "print_header", 0, iniPath));
  options.dateFormat =
      static_cast<int32_t>(platform::getProfileInt(kOptions, "date_format", 0, iniPath));
  return options;
}

void writeReportHeader(ReportFile& file, std::string_view delimiter, int32_t dateFormat) {
  for (const char* name : kColumnNames) writeField(file, name, delimiter);
  const DateTimeValue now = localDateTime();
  writeDate(file, now, dateFormat);
  writeText(file, " ");
  writeTime(file, now);
  writeLineEnd(file);
}

bool writeTradeReport(const char* iniPath, TradeStore& store) {
  const ReportOptions options = readReportOptions(iniPath);
  zuqonlPrintf("[ZUQTradeReport] Report file: '%s'\n", options.reportFile.c_str());
  zuqonlPrintf("[ZUQTradeReport] Report options: delimeter '%s', header %d, date format %d\n",
               options.delimiter.c_str(), options.printHeader, options.dateFormat);
  ReportFile file;
  if (!openReportFile(file, options.reportFile.c_str())) {
    zuqonlPrintf("[ZUQTradeReport] Can't open file '%s'\n", options.reportFile.c_str());
    return false;
  }
  if (options.printHeader != 0) writeReportHeader(file, options.delimiter, options.dateFormat);
  store.walk([&](uint32_t, const TradeLine& line) {
    writeTradeLine(file, line, options.delimiter, options.dateFormat);
  });
  if (!closeReportFile(file)) {
    zuqonlPrintf("[ZUQTradeReport] Can't write file '%s'\n", options.reportFile.c_str());
    return false;
  }
  return true;
}
