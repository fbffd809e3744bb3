#include "report/trade_report.h"

#include <cerrno>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "online/online_library.h"
#include "platform/error_text.h"
#include "platform/local_time.h"
#include "platform/mutex.h"
#include "platform/paths.h"
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

// Writes the walk's lines in order, formatting every other batch of them on a
// second thread: formatting is most of what a large report costs, and once
// the table has come the notification thread leaves a core idle. A batch is
// formatted into memory, then written after the batch before it.
class LineWriter {
 public:
  LineWriter(ReportFile& file, std::string_view delimiter, int32_t dateFormat)
      : file_(file), delimiter_(delimiter), dateFormat_(dateFormat) {}
  ~LineWriter() {
    if (!helper_.joinable()) return;
    {
      platform::MutexLock lock(mutex_);
      stop_ = true;
    }
    changed_.notifyAll();
    helper_.join();
  }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // The line's texts must live until finish() returns.
  void add(const KeptTrade& line) {
    if (formattingHere_) {
      // This thread's half is formatted as it comes, with no copy.
      writeTradeLine(ownMemory_, line, delimiter_, dateFormat_);
      if (++ownLines_ == kBatchLines) writeBoth();
      return;
    }
    givenLines_.push_back(line);
    if (givenLines_.size() < kBatchLines) return;
    if (handOver()) {
      formattingHere_ = true;
      ownBytes_.clear();
      ownMemory_.memory = &ownBytes_;
      ownLines_ = 0;
    } else {
      writeLines(file_, givenLines_);
      givenLines_.clear();
    }
  }

  // Writes every line added and not yet written.
  void finish() {
    if (formattingHere_) {
      writeBoth();
    } else {
      writeLines(file_, givenLines_);
      givenLines_.clear();
    }
  }

 private:
  static constexpr size_t kBatchLines = 4096;

  void writeLines(ReportFile& file, const std::vector<KeptTrade>& lines) {
    for (const KeptTrade& line : lines) writeTradeLine(file, line, delimiter_, dateFormat_);
  }

  // Gives the batch to the helper, started on first use; false when no
  // thread can be started (the batch is then this thread's to write).
  bool handOver() {
    if (!helper_.joinable()) {
      try {
        helper_ = std::thread([this] { helperLoop(); });
      } catch (const std::system_error&) {
        return false;
      }
    }
    {
      platform::MutexLock lock(mutex_);
      given_ = true;
    }
    changed_.notifyAll();
    return true;
  }

  // Once this thread's half is formatted: waits for the helper's, then
  // writes both in order. std::bad_alloc when the helper found no memory
  // for its half.
  void writeBoth() {
    writePending(ownMemory_);
    {
      platform::MutexLock lock(mutex_);
      while (given_) changed_.wait(mutex_);
      if (helperOutOfMemory_) throw std::bad_alloc();
    }
    writeBytes(file_, givenBytes_);
    writeBytes(file_, ownBytes_);
    givenLines_.clear();
    formattingHere_ = false;
  }

  void helperLoop() {
    std::optional<ReportFile> memory;  // made on first use: its buffer may find no memory
    platform::MutexLock lock(mutex_);
    for (;;) {
      while (!given_ && !stop_) changed_.wait(mutex_);
      if (stop_) return;
      lock.unlock();
      givenBytes_.clear();
      bool outOfMemory = false;
      try {
        if (!memory) memory.emplace();
        memory->memory = &givenBytes_;
        writeLines(*memory, givenLines_);
        writePending(*memory);
      } catch (const std::bad_alloc&) {
        outOfMemory = true;  // told to the driver's thread, which ends the report
      }
      lock.lock();
      helperOutOfMemory_ = helperOutOfMemory_ || outOfMemory;
      given_ = false;
      changed_.notifyAll();
    }
  }

  ReportFile& file_;
  const std::string_view delimiter_;
  const int32_t dateFormat_;
  // Batches alternate: one is copied for the helper, the next formatted
  // here as it comes.
  bool formattingHere_ = false;
  std::vector<KeptTrade> givenLines_;  // the helper's while given_
  std::string givenBytes_;             // the helper's while given_
  ReportFile ownMemory_;
  std::string ownBytes_;
  size_t ownLines_ = 0;
  std::thread helper_;
  platform::Mutex mutex_;
  platform::CondVar changed_;
  bool given_ GUARDED_BY(mutex_) = false;  // the helper has a batch
  bool stop_ GUARDED_BY(mutex_) = false;
  bool helperOutOfMemory_ GUARDED_BY(mutex_) = false;  // a batch could not be formatted
};

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

namespace {

// Writes the report to `file`, open already: the header when asked, then the
// walk. Returns the number of trade lines; std::bad_alloc when the memory
// runs out on the way.
size_t writeContent(ReportFile& file, const ReportOptions& options, TradeStore& store) {
  if (options.printHeader != 0) writeReportHeader(file, options.delimiter, options.dateFormat);
  size_t tradeLines = 0;
  LineWriter lines(file, options.delimiter, options.dateFormat);
  store.walk(
      [&](uint32_t, const KeptTrade& line) {
        lines.add(line);
        ++tradeLines;
      },
      [&] { lines.finish(); });
  return tradeLines;
}

ReportOutcome writeReport(const char* iniPath, TradeStore& store,
                          const std::vector<std::string>& tableFiles,
                          uint32_t lockWaitMilliseconds) {
  const ReportOptions options = readReportOptions(iniPath);
  zuqonlPrintf("[ZUQTradeReport] Report file: '%s'\n", options.reportFile.c_str());
  zuqonlPrintf("[ZUQTradeReport] Report options: delimeter '%s', header %d, date format %d\n",
               options.delimiter.c_str(), options.printHeader, options.dateFormat);
  ReportOutcome outcome;
  outcome.absolutePath = platform::absolutePath(options.reportFile);
  const std::string cannotOpen = "cannot open '" + outcome.absolutePath + "': ";
  ReportFile file;
  std::string refusal = ownInputAt(options.reportFile, iniPath, tableFiles);
  if (!refusal.empty() || !openReportFile(file, options.reportFile.c_str())) {
    zuqonlPrintf("[ZUQTradeReport] Can't open file '%s'\n", options.reportFile.c_str());
    outcome.failure = cannotOpen + (!refusal.empty()             ? refusal
                                    : options.reportFile.empty() ? "no path is set"
                                                                 : reasonText(file.error));
    return outcome;
  }
  file.output.lockWaitMilliseconds = lockWaitMilliseconds;
  try {
    outcome.tradeLines = writeContent(file, options, store);
  } catch (const std::bad_alloc&) {
    // Half a report must not take the place of the earlier one: the
    // temporary file goes, and the run fails.
    file.failed = true;
    closeReportFile(file);
    throw;
  }
  if (!closeReportFile(file)) {
    if (file.output.lockedByOther) {
      zuqonlPrintf(
          "[ZUQTradeReport] Report file '%s' is locked by another run: not written after "
          "waiting %u ms\n",
          options.reportFile.c_str(), static_cast<unsigned>(lockWaitMilliseconds));
    }
    zuqonlPrintf("[ZUQTradeReport] Can't write file '%s'\n", options.reportFile.c_str());
    outcome.failure =
        "cannot write '" + outcome.absolutePath + "': " +
        (file.output.lockedByOther ? std::string("locked by another run") : reasonText(file.error));
    return outcome;
  }
  outcome.written = true;
  return outcome;
}

}  // namespace

ReportOutcome writeTradeReport(const char* iniPath, TradeStore& store,
                               const std::vector<std::string>& tableFiles,
                               uint32_t lockWaitMilliseconds) {
  try {
    return writeReport(iniPath, store, tableFiles, lockWaitMilliseconds);
  } catch (const std::bad_alloc&) {
    zuqonlPrintf(
        "[ZUQTradeReport] Out of memory: the report could not be put together and is not "
        "written\n");
    ReportOutcome outcome;
    outcome.failure = "out of memory while the report was put together";
    return outcome;
  }
}
