#include "table_read_ahead.h"

#include <new>
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
  // A row's values then never need memory of their own while it is read.
  readValues_.reserve(static_cast<size_t>(stream.columnCount()));
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
    } catch (const std::bad_alloc&) {
      // The consumer reads on by itself, with the memory this thread and
      // its batches give back; the events already read come first.
      lock.lock();
      memoryShort_ = true;
      const bool wasEmpty = ready_.empty();
      (batch->items.empty() ? free_ : ready_).push_back(batch);
      lock.unlock();
      if (wasEmpty) wake_();
      lock.lock();
      return;
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
  // A block grown for a large row goes back first: only the rows in
  // flight keep memory of that size.
  if (batch.records.capacity() > kBatchBytes) {
    batch.records.release();
  } else {
    batch.records.clear();
  }
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
        try {
          item.row.record =
              batch.records.add(conn_, readEvent_.rowId, readValues_, &item.row.bytes);
        } catch (const std::bad_alloc&) {
          pending_ = true;  // read, and its values still in the stream's buffer
          throw;
        }
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
  bool takeOver = false;
  {
    platform::MutexLock lock(mutex_);
    if (current_ != nullptr) free_.push_back(current_);
    current_ = nullptr;
    if (!ready_.empty()) {
      current_ = ready_.front();
      ready_.erase(ready_.begin());
    } else if (failure_) {
      std::rethrow_exception(failure_);
    } else if (memoryShort_ && !inline_) {
      takeOver = true;
    } else if (inline_ && !held_ && !ended_) {
      toFill = free_.back();
      free_.pop_back();
    }
  }
  changed_.notifyAll();  // a reader waiting for a free batch has one
  if (takeOver) {
    takeOverFromReader();
    return takeReadyBatch();
  }
  if (toFill != nullptr) {
    try {
      fill(*toFill);
    } catch (const std::bad_alloc&) {
      // What was read before the failure is handed out first; the event
      // that failed is read again by a later call.
      platform::MutexLock lock(mutex_);
      (toFill->items.empty() ? free_ : ready_).push_back(toFill);
      throw;
    }
    platform::MutexLock lock(mutex_);
    held_ = toFill->holds;
    ended_ = toFill->holds && toFill->items.back().kind == EventKind::End;
    current_ = toFill;
  }
  return current_;
}

void TableReadAhead::takeOverFromReader() {
  reader_.join();
  inline_ = true;
  platform::MutexLock lock(mutex_);
  for (Batch* batch : free_) batch->records.release();
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
