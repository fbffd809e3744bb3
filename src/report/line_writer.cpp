#include "report/line_writer.h"

#include <new>
#include <system_error>

#include "report/trade_line.h"

LineWriter::LineWriter(ReportFile& file, std::string_view delimiter, int32_t dateFormat)
    : file_(file), delimiter_(delimiter), dateFormat_(dateFormat) {}

LineWriter::~LineWriter() {
  if (!helper_.joinable()) return;
  {
    platform::MutexLock lock(mutex_);
    stop_ = true;
  }
  changed_.notifyAll();
  helper_.join();
}

void LineWriter::add(const KeptTrade& trade) {
  if (formattingHere_) {
    // This thread's half is formatted as it comes, with no copy.
    writeTradeLine(localBatch_, trade, delimiter_, dateFormat_);
    localStrayed_.count(trade, delimiter_);
    if (++localLines_ == kBatchLines) writeBothBatches();
    return;
  }
  helperLines_.push_back(trade);
  if (helperLines_.size() < kBatchLines) return;
  if (passBatchToHelper()) {
    formattingHere_ = true;
    localBatch_.clear();
    localLines_ = 0;
    localStrayed_ = {};
  } else {
    writeLines(file_, helperLines_, strayed_);
    helperLines_.clear();
  }
}

void LineWriter::finish() {
  if (formattingHere_) {
    writeBothBatches();
  } else {
    writeLines(file_, helperLines_, strayed_);
    helperLines_.clear();
  }
}

void LineWriter::writeLines(ReportFile& file, const std::vector<KeptTrade>& lines,
                            StraySeparators& strayed) {
  for (const KeptTrade& line : lines) {
    writeTradeLine(file, line, delimiter_, dateFormat_);
    strayed.count(line, delimiter_);
  }
}

// Gives the batch to the helper, started on first use; false when no thread
// can be started (the batch is then this thread's to write).
bool LineWriter::passBatchToHelper() {
  if (!helper_.joinable()) {
    try {
      helper_ = std::thread([this] { helperLoop(); });
    } catch (const std::system_error&) {
      return false;
    }
  }
  {
    platform::MutexLock lock(mutex_);
    helperBusy_ = true;
  }
  changed_.notifyAll();
  return true;
}

// Once this thread's batch is formatted: waits for the helper's, then writes
// both in order. std::bad_alloc when the helper found no memory for its
// batch.
void LineWriter::writeBothBatches() {
  const std::string_view local = localBatch_.text();
  {
    platform::MutexLock lock(mutex_);
    while (helperBusy_) changed_.wait(mutex_);
    if (helperOutOfMemory_) throw std::bad_alloc();
  }
  file_.appendVerbatim(helperBatch_->text());
  file_.appendVerbatim(local);
  // The helper's batch holds the earlier lines.
  strayed_.append(helperStrayed_);
  strayed_.append(localStrayed_);
  helperLines_.clear();
  formattingHere_ = false;
}

void LineWriter::helperLoop() {
  platform::MutexLock lock(mutex_);
  for (;;) {
    while (!helperBusy_ && !stop_) changed_.wait(mutex_);
    if (stop_) return;
    lock.unlock();
    bool outOfMemory = false;
    try {
      if (!helperBatch_) helperBatch_.emplace(ReportFile::InMemory{});
      helperBatch_->clear();
      helperStrayed_ = {};
      writeLines(*helperBatch_, helperLines_, helperStrayed_);
    } catch (const std::bad_alloc&) {
      outOfMemory = true;  // told to the writer's thread, which ends the report
    }
    lock.lock();
    helperOutOfMemory_ = helperOutOfMemory_ || outOfMemory;
    helperBusy_ = false;
    changed_.notifyAll();
  }
}
