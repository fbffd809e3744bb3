#include "report/trade_report.h"

#include <cerrno>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "online/online_library.h"
#include "platform/error_text.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/stop_request.h"
#include "report/line_writer.h"
#include "report/report_columns.h"
#include "report/trade_line.h"

namespace {

DateTimeValue localDateTime() {
  const platform::LocalTime now = platform::localTime();
  return DateTimeValue{now.year, now.month,  now.dayOfWeek, now.day,
                       now.hour, now.minute, now.second,    now.milliseconds};
}

// The system's words for `error` (an errno value); a FIFO that no program
// reads gets words an operator can act on.
std::string reasonText(int error) {
  if (error == 0) return "the system gave no reason";
  std::string text = platform::errnoText(error);
  if (error == ENXIO) text += " (a pipe that no program reads)";
  return text;
}

// Why `reportFile` may not be written though it could be: it is the run's
// INI file or a table file the data server reads. Empty when it may be.
std::string ownInputAt(const std::string& reportFile, const char* iniPath,
                       const std::vector<std::string>& tableFiles) {
  if (platform::sameFile(reportFile, iniPath)) {
    return std::string("it is the INI file '") + iniPath + "'";
  }
  for (const std::string& table : tableFiles) {
    if (platform::sameFile(reportFile, table)) return "it is the table file '" + table + "'";
  }
  return "";
}

}  // namespace

void writeReportHeader(ReportFile& file, std::string_view delimiter, int32_t dateFormat) {
  for (const ReportColumn& column : kReportColumns) writeField(file, column.name, delimiter);
  const DateTimeValue now = localDateTime();
  writeDate(file, now, dateFormat);
  file.append(" ");
  writeTime(file, now);
  file.endLine();
}

std::string straySeparatorWarning(const StraySeparators& strayed, std::string_view delimiter) {
  if (strayed.trades == 0) return "";
  const bool one = strayed.trades == 1;
  std::string text = std::to_string(strayed.trades);
  text += one ? " trade line has a text that holds " : " trade lines have texts that hold ";
  if (delimiter.empty()) {
    text += "a line feed, which a reader of the report takes for a line's end: ";
  } else {
    text += std::string("the delimiter '").append(delimiter) +
            "' or a line feed, which a reader of the report takes for a column's or a line's "
            "end: ";
  }
  text += one ? "rowID=" : "the first is rowID=";
  text += std::to_string(strayed.firstRowID) + ", whose " +
          kReportColumns[kColumnOfText[strayed.first.text]].name + " holds " +
          (strayed.first.lineFeed ? "a line feed" : "the delimiter");
  return text;
}

namespace {

// Thrown out of the walk when a stop is requested: the file, not closed,
// goes with its temporary file, as when the memory runs out.
struct WritingStopped {};

// Trade lines written between two looks for a stop request.
constexpr size_t kStopLookLines = 1024;

// Writes the report to `file`, open already: the header when asked, then the
// walk. Returns the number of trade lines, and the lines that hold a stray
// separator in *strayed; std::bad_alloc when the memory runs out on the way,
// WritingStopped on a stop request.
size_t writeContent(ReportFile& file, const ReportOptions& options, TradeStore& store,
                    StraySeparators* strayed) {
  if (options.printHeader != 0) writeReportHeader(file, options.delimiter, options.dateFormat);
  size_t tradeLines = 0;
  LineWriter lines(file, store, options.delimiter, options.dateFormat);
  store.walkStored(
      [&](const TradeStore::StoredTrade& trade) {
        try {
          if (tradeLines % kStopLookLines == 0 && platform::stopRequest()) throw WritingStopped{};
          lines.add(trade);
        } catch (...) {
          lines.stopHelper();
          throw;
        }
        ++tradeLines;
      },
      [&] {
        lines.finish();
        *strayed = lines.strayed();
      });
  if (platform::stopRequest()) throw WritingStopped{};
  return tradeLines;
}

ReportOutcome writeReport(const ReportOptionsReader& readOptions, const char* iniPath,
                          TradeStore& store, const std::vector<std::string>& tableFiles,
                          uint32_t lockWaitMilliseconds) {
  const ReportOptions options = readOptions();
  online::zuqonlPrintf("[ZUQTradeReport] Report file: '%s'\n", options.reportFile.c_str());
  online::zuqonlPrintf(
      "[ZUQTradeReport] Report options: delimeter '%s', header %d, date format %d\n",
      options.delimiter.c_str(), options.printHeader, options.dateFormat);
  ReportOutcome outcome;
  outcome.absolutePath = platform::absolutePath(options.reportFile);
  auto cannotOpen = [&](const std::string& reason) {
    online::zuqonlPrintf("[ZUQTradeReport] Can't open file '%s'\n", options.reportFile.c_str());
    outcome.failure = "cannot open '" + outcome.absolutePath + "': " + reason;
    return outcome;
  };
  const std::string refusal = ownInputAt(options.reportFile, iniPath, tableFiles);
  if (!refusal.empty()) return cannotOpen(refusal);
  ReportFile file(options.reportFile.c_str());
  if (!file.isOpen()) {
    return cannotOpen(options.reportFile.empty() ? "no path is set" : reasonText(file.error()));
  }
  // Running out of memory leaves by an exception; the file, not closed,
  // then goes with its temporary file, so that half a report never takes
  // the place of the earlier one.
  StraySeparators strayed;
  try {
    outcome.tradeLines = writeContent(file, options, store, &strayed);
  } catch (const WritingStopped&) {
    outcome.stopped = true;
    return outcome;
  }
  if (!file.close(lockWaitMilliseconds)) {
    if (file.stopped()) {
      outcome.stopped = true;
      return outcome;
    }
    if (file.lockedByOther()) {
      online::zuqonlPrintf(
          "[ZUQTradeReport] Report file '%s' is locked by another run: not written after "
          "waiting %u ms\n",
          options.reportFile.c_str(), static_cast<unsigned>(lockWaitMilliseconds));
    }
    online::zuqonlPrintf("[ZUQTradeReport] Can't write file '%s'\n", options.reportFile.c_str());
    outcome.failure =
        "cannot write '" + outcome.absolutePath + "': " +
        (file.lockedByOther() ? std::string("locked by another run") : reasonText(file.error()));
    return outcome;
  }
  outcome.written = true;
  if (strayed.trades != 0) {
    outcome.warnings.push_back(straySeparatorWarning(strayed, options.delimiter));
  }
  return outcome;
}

}  // namespace

ReportOutcome writeTradeReport(const ReportOptionsReader& readOptions, const char* iniPath,
                               TradeStore& store, const std::vector<std::string>& tableFiles,
                               uint32_t lockWaitMilliseconds) {
  try {
    return writeReport(readOptions, iniPath, store, tableFiles, lockWaitMilliseconds);
  } catch (const std::bad_alloc&) {
    online::zuqonlPrintf(
        "[ZUQTradeReport] Out of memory: the report could not be put together and is not "
        "written\n");
    ReportOutcome outcome;
    outcome.failure = "out of memory while the report was put together";
    return outcome;
  }
}
