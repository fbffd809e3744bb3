// Writes a report's trade lines in the order they are added, reading and
// formatting every other batch of them on a second thread: reading a
// trade's record and formatting its line are most of what a large report
// costs, and once the table has come the notification thread leaves a core
// idle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "intake/kept_trade.h"
#include "intake/trade_store.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "report/report_file.h"
#include "report/trade_line.h"

// Threads: add() and finish() are called on one thread, the writer's, which
// alone touches `file`; a helper thread, started when the first batch is
// full and ended by the destructor, reads and formats the batches it is
// given into memory of its own.
//
// What it writes: each line added, through writeTradeLine, after the ones
// before it, to `file`. Batches alternate: one is the helper's, the next is
// formatted here as it comes, for as long as the helper formats its own.
// Once the following batch for the helper is gathered, the helper takes it
// at once, and the two batches before it reach the file while the helper
// formats; the helper's text so alternates between two buffers. The lines
// of the last, unfinished batch reach the file at finish(). When no thread
// can be started, every line is formatted on the writer's thread. Whichever
// thread formats a line also looks it through for texts that hold the
// delimiter or a line feed (strayed()).
//
// Failures: a write to the file that fails is the file's to tell
// (ReportFile::close). Running out of memory, on either thread, throws
// std::bad_alloc from add() or finish(); the file then holds part of the
// lines, and the writer must not put it in place.
class LineWriter {
 public:
  // `file`, `store` and the texts of `delimiter` must outlive the writer.
  LineWriter(ReportFile& file, const TradeStore& store, std::string_view delimiter,
             int32_t dateFormat);
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Adds the line of `trade`, from a walk of `store` that lasts until
  // finish() returns: a batch for the helper reads its record there.
  void add(const TradeStore::StoredTrade& trade);

  // Writes every line added and not yet written.
  void finish();

  // Ends the helper once it is done with the batch it may be reading; the
  // lines not yet written are then never written. For a report given up
  // during the walk: called before the walk ends, since the helper reads
  // records the walk lends only while it lasts.
  void stopHelper();

  // After finish(): the lines written whose texts hold the delimiter or a
  // line feed, which a reader of the report will split.
  const StraySeparators& strayed() const { return strayed_; }

 private:
  static constexpr size_t kBatchLines = 3072;
  // This thread's batch, formatted while the helper formats its own, ends
  // once the helper is done, looked at every kHelperLookLines lines, and
  // holds at least kLeastLocalLines and at most kBatchLines.
  static constexpr size_t kHelperLookLines = 16;
  static constexpr size_t kLeastLocalLines = 64;

  // Reads, formats and looks through the line of `trade`.
  void writeLine(ReportFile& file, const TradeStore::StoredTrade& trade, StraySeparators& strayed);
  void writeLines(ReportFile& file, const std::vector<TradeStore::StoredTrade>& trades,
                  StraySeparators& strayed);
  // The batch gathered for the helper is full: the helper takes it, and the
  // batches before it are written; or, when no thread can be started, it is
  // written here.
  void passFullBatch();
  bool startHelper();
  // Whether the helper still formats a batch.
  bool helperBusy() EXCLUDES(mutex_);
  // Waits for the helper's batch not yet written, if any: the buffer that
  // holds its text, or -1. std::bad_alloc when the helper found no memory.
  int waitForHelper();
  // Writes the text of the helper's buffer `slot`, then this thread's batch.
  void writeFormatted(int slot);
  void helperLoop();

  ReportFile& file_;
  const TradeStore& store_;
  const std::string_view delimiter_;
  const int32_t dateFormat_;
  // Whether the lines added now are this thread's to format; else they are
  // gathered for the helper.
  bool formattingHere_ = false;
  std::vector<TradeStore::StoredTrade> gathering_;
  // The helper's while helperBusy_: the trades whose lines it formats, and
  // which of its two buffers it formats them into (each made on first use:
  // it may find no memory).
  std::vector<TradeStore::StoredTrade> helperTrades_;
  std::optional<ReportFile> helperText_[2];
  StraySeparators helperStrayed_[2];
  int pendingSlot_ = -1;  // the buffer of the helper's batch not yet written; -1: none
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
  int helperSlot_ GUARDED_BY(mutex_) = 0;       // the buffer it formats into
  bool stop_ GUARDED_BY(mutex_) = false;
  bool helperOutOfMemory_ GUARDED_BY(mutex_) = false;  // a batch could not be formatted
};
