#include "table_read_ahead.h"

#include <system_error>
#include <utility>

namespace zuqonl {

using dataserver::EventKind;

TableReadAhead::TableReadAhead(dataserver::TableStream& stream, int32_t conn,
                               std::function<void()> wake, bool ownThread)
    : stream_(stream), conn_(conn), wake_(std::move(wake)) {
  {
    platform::MutexLock lock(mutex_);
    for (Batch& batch : batches_) free_.push_back(&batch);
  }
  inline_ = !ownThread;
  if (inline_) return;
  try {
    reader_ = std::thread([this] { readerLoop(); });
  } catch (const std::system_error&) {
    inline_ = true;  // no thread to spare: the table is read as it is served
  }
}

TableReadAhead::~TableReadAhead() {
  if (!reader_.joinable()) return;
  {
    platform::MutexLock lock(mutex_);
    stop_ = true;
  }
  changed_.notifyAll();
  reader_.join();
}

void TableReadAhead::readerLoop() {
  platform::MutexLock lock(mutex_);
  for (;;) {
    while (!stop_ && !ended_ && (held_ || free_.empty())) changed_.wait(mutex_);
    if (stop_ || ended_) return;
    Batch* batch = free_.back();
    free_.pop_back();
    lock.unlock();
    try {
      fill(*batch);
    } catch (const std::exception&) {
      lock.lock();
      failure_ = std::current_exception();
      ended_ = true;
      const bool wasEmpty = ready_.empty();
      lock.unlock();
      if (wasEmpty) wake_();
      lock.lock();
      return;
    }
    lock.lock();
    const bool wasEmpty = ready_.empty();
    ready_.push_back(batch);
    held_ = batch->holds;
    ended_ = batch->holds && batch->items.back().kind == EventKind::End;
    if (wasEmpty) {
      // The consumer may have found nothing and be waiting for work; it
      // takes the batch once woken, so the lock is not held for the call.
      lock.unlock();
      wake_();
      lock.lock();
    }
  }
}

void TableReadAhead::fill(Batch& batch) {
  batch.items.clear();
  batch.records.clear();
  batch.texts.clear();
  batch.taken = 0;
  batch.holds = false;
  while (batch.items.size() < kBatchEvents) {
    if (!pending_) stream_.next(&readEvent_, &readValues_);
    pending_ = false;
    Batch::Item item{readEvent_.kind, readEvent_.rowId, readEvent_.number, -1, {}};
    switch (readEvent_.kind) {
      case EventKind::AddRow:
      case EventKind::UpdateRow:
      case EventKind::DeleteRow:
        item.row.record = batch.records.add(conn_, readEvent_.rowId, readValues_, &item.row.bytes);
        if (item.row.record == nullptr) {
          pending_ = true;  // the batch is full: the row starts the next one
          return;
        }
        break;
      case EventKind::Error:
      case EventKind::NetLost:
      case EventKind::NetOk:
        item.text = static_cast<int32_t>(batch.texts.size());
        batch.texts.push_back(readEvent_.text);
        break;
      default:
        break;
    }
    batch.items.push_back(item);
    if (readEvent_.kind == EventKind::Pause || readEvent_.kind == EventKind::End) {
      batch.holds = true;
      return;
    }
  }
}

TableReadAhead::Batch* TableReadAhead::takeReadyBatch() {
  Batch* toFill = nullptr;
  {
    platform::MutexLock lock(mutex_);
    if (current_ != nullptr) free_.push_back(current_);
    current_ = nullptr;
    if (!ready_.empty()) {
      current_ = ready_.front();
      ready_.erase(ready_.begin());
    } else if (failure_) {
      std::rethrow_exception(failure_);
    } else if (inline_ && !held_ && !ended_) {
      toFill = free_.back();
      free_.pop_back();
    }
  }
  changed_.notifyAll();  // a reader waiting for a free batch has one
  if (toFill != nullptr) {
    fill(*toFill);
    platform::MutexLock lock(mutex_);
    held_ = toFill->holds;
    ended_ = toFill->holds && toFill->items.back().kind == EventKind::End;
    current_ = toFill;
  }
  return current_;
}

const dataserver::TableEvent* TableReadAhead::next(Row* row) {
  if (current_ == nullptr || current_->taken == current_->items.size()) {
    if (takeReadyBatch() == nullptr) return nullptr;
  }
  const Batch::Item& item = current_->items[current_->taken++];
  event_.kind = item.kind;
  event_.rowId = item.rowId;
  event_.number = item.number;
  if (item.text >= 0) {
    event_.text = current_->texts[static_cast<size_t>(item.text)];
  } else {
    event_.text.clear();
  }
  *row = item.row;
  return &event_;
}

void TableReadAhead::resume() {
  {
    platform::MutexLock lock(mutex_);
    held_ = false;
  }
  changed_.notifyAll();
}

}  // namespace zuqonl
