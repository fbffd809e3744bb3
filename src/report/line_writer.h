// Writes a report's trade lines in the order they are added, formatting
// every other batch of them on a second thread: formatting is most of what a
// large report costs, and once the table has come the notification thread
// leaves a core idle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "intake/kept_trade.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "report/report_file.h"
#include "report/trade_line.h"

// Threads: add() and finish() are called on one thread, the writer's, which
// alone touches `file`; a helper thread, started when the first batch is
// full and ended by the destructor, formats the batches it is given into
// memory of its own.
//
// What it writes: each line added, through writeTradeLine, after the ones
// before it, to `file`; the lines of the last, unfinished batch only at
// finish(). A batch formatted in memory reaches the file whole, after the
// batch before it. When no thread can be started, every line is formatted on
// the writer's thread. Whichever thread formats a line also looks it through
// for texts that hold the delimiter or a line feed (strayed()).
//
// Failures: a write to the file that fails is the file's to tell
// (ReportFile::close). Running out of memory, on either thread, throws
// std::bad_alloc from add() or finish(); the file then holds part of the
// lines, and the writer must not put it in place.
class LineWriter {
 public:
  // `file` and the texts of `delimiter` must outlive the writer.
  LineWriter(ReportFile& file, std::string_view delimiter, int32_t dateFormat);
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Adds the line of `trade`, whose texts must stay as they are until
  // finish() returns: a batch for the helper views them without a copy.
  void add(const KeptTrade& trade);

  // Writes every line added and not yet written.
  void finish();

  // After finish(): the lines written whose texts hold the delimiter or a
  // line feed, which a reader of the report will split.
  const StraySeparators& strayed() const { return strayed_; }

 private:
  static constexpr size_t kBatchLines = 2048;

  void writeLines(ReportFile& file, const std::vector<KeptTrade>& lines, StraySeparators& strayed);
  bool passBatchToHelper();
  void writeBothBatches();
  void helperLoop();

  ReportFile& file_;
  const std::string_view delimiter_;
  const int32_t dateFormat_;
  // Batches alternate: one is copied for the helper, the next formatted
  // here as it comes.
  bool formattingHere_ = false;
  // The helper's while helperBusy_: the lines it formats, and what it made
  // of them (made on its first batch: its buffer may find no memory).
  std::vector<KeptTrade> helperLines_;
  std::optional<ReportFile> helperBatch_;
  StraySeparators helperStrayed_;
  // This thread's batch, formatted as the lines come, and their count.
  ReportFile localBatch_{ReportFile::InMemory{}};
  size_t localLines_ = 0;
  StraySeparators localStrayed_;
  // Of the lines written to the file.
  StraySeparators strayed_;
  std::thread helper_;
  platform::Mutex mutex_;
  platform::CondVar changed_;
  bool helperBusy_ GUARDED_BY(mutex_) = false;  // the helper has a batch to format
  bool stop_ GUARDED_BY(mutex_) = false;
  bool helperOutOfMemory_ GUARDED_BY(mutex_) = false;  // a batch could not be formatted
};
