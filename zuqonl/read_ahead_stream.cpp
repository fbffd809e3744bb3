#include "read_ahead_stream.h"

#include <utility>

namespace zuqonl {

using dataserver::EventKind;
using dataserver::TableEvent;

namespace {

bool isRow(EventKind kind) {
  return kind == EventKind::AddRow || kind == EventKind::UpdateRow || kind == EventKind::DeleteRow;
}

}  // namespace

ReadAheadStream::~ReadAheadStream() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool ReadAheadStream::open(const std::string& dataDir, const dataserver::Subscription& sub,
                           std::string* err) {
  if (!stream_.open(dataDir, sub, err)) return false;
  columnCount_ = stream_.columnCount();
  thread_ = std::thread([this] { read(); });
  return true;
}

// The reading thread: fills a batch, waits until next() has taken the one
// before, hands it over and takes back the drained batch next() left, whose
// events keep the capacity of their strings.
void ReadAheadStream::read() {
  std::vector<TableEvent> batch(kBatchEvents);
  for (;;) {
    size_t count = 0;
    EventKind last = EventKind::AddRow;
    while (count < kBatchEvents) {
      stream_.next(&batch[count]);
      last = batch[count++].kind;
      if (!isRow(last)) break;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || !haveReady_; });
    if (stop_) return;
    ready_.swap(batch);
    readyCount_ = count;
    haveReady_ = true;
    lock.unlock();
    changed_.notify_all();
    if (last == EventKind::End) return;
    if (batch.size() < kBatchEvents) batch.resize(kBatchEvents);
  }
}

void ReadAheadStream::next(TableEvent* out) {
  if (position_ == currentCount_ && !ended_ && thread_.joinable()) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return haveReady_; });
    current_.swap(ready_);
    currentCount_ = readyCount_;
    haveReady_ = false;
    position_ = 0;
    lock.unlock();
    changed_.notify_all();
  }
  if (position_ == currentCount_) {
    *out = TableEvent{};  // End
    return;
  }
  std::swap(*out, current_[position_++]);
  if (out->kind == EventKind::End) ended_ = true;
}

}  // namespace zuqonl
