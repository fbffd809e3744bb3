#include "report/trade_report.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    helper_.join();
  }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // The line's texts must live until finish() returns.
  void add(const TradeLine& line) {
    std::vector<TradeLine>& batch = batches_[filling_];
    batch.push_back(line);
    if (batch.size() < kBatchLines) return;
    if (filling_ == 0) {
      if (handOver()) {
        filling_ = 1;
      } else {
        writeLines(file_, batch);
        batch.clear();
      }
      return;
    }
    writeBoth();
  }

  // Writes every line added and not yet written.
  void finish() {
    if (filling_ == 1) {
      writeBoth();
    } else {
      writeLines(file_, batches_[0]);
      batches_[0].clear();
    }
  }

 private:
  static constexpr size_t kBatchLines = 4096;

  void writeLines(ReportFile& file, const std::vector<TradeLine>& lines) {
    for (const TradeLine& line : lines) writeTradeLine(file, line, delimiter_, dateFormat_);
  }

  void format(ReportFile& memory, const std::vector<TradeLine>& lines, std::string* bytes) {
    bytes->clear();
    memory.memory = bytes;
    writeLines(memory, lines);
    writePending(memory);
  }

  // Gives batch 0 to the helper, started on first use; false when no thread
  // can be started (the batch is then this thread's to write).
  bool handOver() {
    if (!helper_.joinable()) {
      try {
        helper_ = std::thread([this] { helperLoop(); });
      } catch (const std::system_error&) {
        return false;
      }
    }
    {
      std::lock_guard lock(mutex_);
      given_ = true;
    }
    changed_.notify_all();
    return true;
  }

  // Formats batch 1 here while the helper formats batch 0, then writes both.
  void writeBoth() {
    format(ownMemory_, batches_[1], &bytes_[1]);
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return !given_; });
    }
    writeBytes(file_, bytes_[0]);
    writeBytes(file_, bytes_[1]);
    batches_[0].clear();
    batches_[1].clear();
    filling_ = 0;
  }

  void helperLoop() {
    ReportFile memory;
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return given_ || stop_; });
      if (stop_) return;
      lock.unlock();
      format(memory, batches_[0], &bytes_[0]);
      lock.lock();
      given_ = false;
      changed_.notify_all();
    }
  }

  ReportFile& file_;
  const std::string_view delimiter_;
  const int32_t dateFormat_;
  // Batch 0 goes to the helper, batch 1 is formatted here.
  std::vector<TradeLine> batches_[2];
  std::string bytes_[2];
  int filling_ = 0;
  ReportFile ownMemory_;
  std::thread helper_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool given_ = false;  // guarded by mutex_: batch 0 is the helper's
  bool stop_ = false;   // guarded by mutex_
};

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
  {
    LineWriter lines(file, options.delimiter, options.dateFormat);
    store.walk([&](uint32_t, const TradeLine& line) { lines.add(line); }, [&] { lines.finish(); });
  }
  if (!closeReportFile(file)) {
    zuqonlPrintf("[ZUQTradeReport] Can't write file '%s'\n", options.reportFile.c_str());
    return false;
  }
  return true;
}
