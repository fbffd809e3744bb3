#include "report/line_writer.h"

#include <new>
#include <system_error>

#include "report/trade_line.h"

LineWriter::LineWriter(ReportFile& file, const TradeStore& store, std::string_view delimiter,
                       int32_t dateFormat)
    : file_(file), store_(store), delimiter_(delimiter), dateFormat_(dateFormat) {}

LineWriter::~LineWriter() { stopHelper(); }

void LineWriter::stopHelper() {
  if (!helper_.joinable()) return;
  {
    platform::MutexLock lock(mutex_);
    stop_ = true;
  }
  changed_.notifyAll();
  helper_.join();
}

void LineWriter::add(const TradeStore::StoredTrade& trade) {
  if (formattingHere_) {
    // This thread's batch is read and formatted as it comes.
    writeLine(localBatch_, trade, localStrayed_);
    ++localLines_;
    // Until the helper is done with its batch: then the next one is
    // gathered for it at once, so that neither thread waits for the other.
    if (localLines_ == kBatchLines ||
        (localLines_ % kHelperLookLines == 0 && localLines_ >= kLeastLocalLines && !helperBusy())) {
      formattingHere_ = false;
    }
    return;
  }
  gathering_.push_back(trade);
  if (gathering_.size() == kBatchLines) passFullBatch();
}

void LineWriter::finish() {
  writeFormatted(waitForHelper());
  writeLines(file_, gathering_, strayed_);
  gathering_.clear();
  formattingHere_ = false;
}

void LineWriter::writeLine(ReportFile& file, const TradeStore::StoredTrade& trade,
                           StraySeparators& strayed) {
  KeptTrade line;
  store_.read(trade, &line);
  writeCountedTradeLine(file, line, delimiter_, dateFormat_, &strayed);
}

void LineWriter::writeLines(ReportFile& file, const std::vector<TradeStore::StoredTrade>& trades,
                            StraySeparators& strayed) {
  // A batch's records were asked for by the walk, on the writer's thread:
  // the helper asks again, for its own caches.
  constexpr size_t kAhead = 8;
  for (size_t i = 0; i < trades.size(); ++i) {
    if (i + kAhead < trades.size()) TradeStore::prefetch(trades[i + kAhead]);
    writeLine(file, trades[i], strayed);
  }
}

void LineWriter::passFullBatch() {
  if (!startHelper()) {
    writeLines(file_, gathering_, strayed_);
    gathering_.clear();
    return;
  }
  const int written = waitForHelper();
  std::swap(gathering_, helperTrades_);
  gathering_.clear();
  const int slot = written == 0 ? 1 : 0;
  {
    platform::MutexLock lock(mutex_);
    helperSlot_ = slot;
    helperBusy_ = true;
  }
  changed_.notifyAll();
  pendingSlot_ = slot;
  // While the helper formats the new batch, the lines before it reach the
  // file: the helper's batch before, then this thread's.
  writeFormatted(written);
  formattingHere_ = true;
}

// Starts the helper on first use; false when no thread can be started.
bool LineWriter::startHelper() {
  if (helper_.joinable()) return true;
  try {
    helper_ = std::thread([this] { helperLoop(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool LineWriter::helperBusy() {
  platform::MutexLock lock(mutex_);
  return helperBusy_;
}

int LineWriter::waitForHelper() {
  if (pendingSlot_ < 0) return -1;
  {
    platform::MutexLock lock(mutex_);
    while (helperBusy_) changed_.wait(mutex_);
    if (helperOutOfMemory_) throw std::bad_alloc();
  }
  return std::exchange(pendingSlot_, -1);
}

void LineWriter::writeFormatted(int slot) {
  if (slot >= 0) {
    file_.appendVerbatim(helperText_[slot]->text());
    strayed_.append(helperStrayed_[slot]);
  }
  file_.appendVerbatim(localBatch_.text());
  strayed_.append(localStrayed_);
  localBatch_.clear();
  localLines_ = 0;
  localStrayed_ = {};
}

void LineWriter::helperLoop() {
  platform::MutexLock lock(mutex_);
  for (;;) {
    while (!helperBusy_ && !stop_) changed_.wait(mutex_);
    if (stop_) return;
    const int slot = helperSlot_;
    lock.unlock();
    bool outOfMemory = false;
    try {
      std::optional<ReportFile>& text = helperText_[slot];
      if (!text) text.emplace(ReportFile::InMemory{});
      text->clear();
      helperStrayed_[slot] = {};
      writeLines(*text, helperTrades_, helperStrayed_[slot]);
    } catch (const std::bad_alloc&) {
      outOfMemory = true;  // told to the writer's thread, which ends the report
    }
    lock.lock();
    helperOutOfMemory_ = helperOutOfMemory_ || outOfMemory;
    helperBusy_ = false;
    changed_.notifyAll();
  }
}
