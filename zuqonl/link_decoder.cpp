#include "link_decoder.h"

#include <cstring>
#include <system_error>
#include <utility>

namespace zuqonl {

namespace protocol = dataserver::protocol;
using dataserver::EventKind;

namespace {

bool isRow(EventKind kind) {
  return kind == EventKind::AddRow || kind == EventKind::UpdateRow || kind == EventKind::DeleteRow;
}

}  // namespace

LinkDecoder::LinkDecoder(std::function<void()> ready, bool ownThread) : ready_(std::move(ready)) {
  {
    platform::MutexLock lock(mutex_);
    for (Chunk& chunk : chunks_) {
      chunk.bytes.resize(kChunkBytes);
      freeChunks_.push_back(&chunk);
    }
    for (Batch& batch : batches_) freeBatches_.push_back(&batch);
  }
  inline_ = !ownThread;
  if (inline_) return;
  try {
    worker_ = std::thread([this] { workerLoop(); });
  } catch (const std::system_error&) {
    inline_ = true;  // no thread to spare: the frames are decoded as they are taken
  }
}

LinkDecoder::~LinkDecoder() {
  if (!worker_.joinable()) return;
  {
    platform::MutexLock lock(mutex_);
    stop_ = true;
  }
  changed_.notifyAll();
  worker_.join();
}

void LinkDecoder::startLink() {
  {
    platform::MutexLock lock(mutex_);
    link_ = ++currentLink_;
    for (Chunk* chunk : fedChunks_) freeChunks_.push_back(chunk);
    fedChunks_.clear();
    for (Batch* batch : readyBatches_) freeBatches_.push_back(batch);
    readyBatches_.clear();
    if (current_ != nullptr) freeBatches_.push_back(current_);
    current_ = nullptr;
    endWhy_.clear();
  }
  changed_.notifyAll();
}

void LinkDecoder::end(std::string why) {
  {
    platform::MutexLock lock(mutex_);
    endWhy_ = std::move(why);
  }
  changed_.notifyAll();
}

bool LinkDecoder::hasRoom() {
  platform::MutexLock lock(mutex_);
  waitsForRoom_ = freeChunks_.empty();
  return !waitsForRoom_;
}

void LinkDecoder::feed(const char* data, size_t size) {
  Chunk* chunk = nullptr;
  {
    platform::MutexLock lock(mutex_);
    chunk = freeChunks_.back();
    freeChunks_.pop_back();
  }
  std::memcpy(chunk->bytes.data(), data, size);
  chunk->size = size;
  chunk->link = link_;
  {
    platform::MutexLock lock(mutex_);
    fedChunks_.push_back(chunk);
  }
  changed_.notifyAll();
}

void LinkDecoder::workerLoop() {
  platform::MutexLock lock(mutex_);
  while (!stop_) {
    if (!step(lock)) changed_.wait(mutex_);
  }
}

bool LinkDecoder::step(platform::MutexLock& lock) {
  // Whole frames of a link that has gone are not decoded any more.
  if (holdsMore_ && decoderLink_ != currentLink_) holdsMore_ = false;
  if (!holdsMore_ && fedChunks_.empty()) {
    if (endWhy_.empty() || freeBatches_.empty()) return false;
    // Every message of the link is decoded: its end comes after them.
    Batch* batch = freeBatches_.back();
    freeBatches_.pop_back();
    batch->count = 0;
    batch->taken = 0;
    batch->records.clear();
    batch->link = currentLink_;
    newItem(*batch).end = std::move(endWhy_);
    endWhy_.clear();
    handOver(batch, lock);
    return true;
  }
  if (!holdsMore_) {
    Chunk* chunk = fedChunks_.front();
    fedChunks_.erase(fedChunks_.begin());
    lock.unlock();
    if (chunk->link != decoderLink_) {
      decoder_.emplace(protocol::Sender::Server);
      decoderLink_ = chunk->link;
      malformed_ = false;
      placed_ = true;
    }
    if (!malformed_) decoder_->feed(chunk->bytes.data(), chunk->size);
    lock.lock();
    freeChunks_.push_back(chunk);
    holdsMore_ = !malformed_;
    if (waitsForRoom_ && !inline_) {
      // The consumer stopped reading for want of room; now there is.
      waitsForRoom_ = false;
      lock.unlock();
      ready_();
      lock.lock();
    }
    return true;
  }
  if (freeBatches_.empty()) return false;
  Batch* batch = freeBatches_.back();
  freeBatches_.pop_back();
  lock.unlock();
  batch->link = decoderLink_;
  holdsMore_ = decodeInto(*batch);
  lock.lock();
  if (batch->link != currentLink_ || batch->count == 0) {
    freeBatches_.push_back(batch);
    return true;
  }
  handOver(batch, lock);
  return true;
}

void LinkDecoder::handOver(Batch* batch, platform::MutexLock& lock) {
  const bool wasEmpty = readyBatches_.empty();
  readyBatches_.push_back(batch);
  if (wasEmpty && !inline_) {
    lock.unlock();
    ready_();
    lock.lock();
  }
}

LinkDecoder::Decoded& LinkDecoder::newItem(Batch& batch) {
  if (batch.count == batch.items.size()) batch.items.emplace_back();
  Decoded& item = batch.items[batch.count++];
  item.record = nullptr;
  item.recordBytes = 0;
  item.fault.clear();
  item.end.clear();
  return item;
}

bool LinkDecoder::decodeInto(Batch& batch) {
  batch.count = 0;
  batch.taken = 0;
  batch.records.clear();
  while (batch.count < kBatchItems) {
    if (placed_) {
      std::string fault;
      const protocol::Decoder::Result result = decoder_->next(&message_, &values_, &fault);
      if (result == protocol::Decoder::Result::NeedMore) return false;
      if (result == protocol::Decoder::Result::Fault) {
        newItem(batch).fault = fault;
        malformed_ = true;
        return false;
      }
    }
    placed_ = true;
    const auto* event = std::get_if<protocol::Event>(&message_);
    if (event != nullptr && isRow(event->event.kind)) {
      size_t bytes = 0;
      RowNotice* record = batch.records.add(static_cast<int32_t>(event->subId), event->event.rowId,
                                            values_, &bytes);
      if (record == nullptr) {
        placed_ = false;  // the batch is full: the row starts the next one
        return true;
      }
      Decoded& item = newItem(batch);
      item.record = record;
      item.recordBytes = bytes;
      item.subId = event->subId;
      item.kind = event->event.kind;
    } else {
      newItem(batch).message = message_;
    }
  }
  return true;
}

LinkDecoder::Batch* LinkDecoder::takeReadyBatch() {
  platform::MutexLock lock(mutex_);
  if (current_ != nullptr) {
    freeBatches_.push_back(current_);
    current_ = nullptr;
    changed_.notifyAll();
  }
  if (inline_) {
    while (readyBatches_.empty() && step(lock)) {
    }
  }
  if (readyBatches_.empty()) return nullptr;
  current_ = readyBatches_.front();
  readyBatches_.erase(readyBatches_.begin());
  return current_;
}

const LinkDecoder::Decoded* LinkDecoder::next() {
  if (current_ == nullptr || current_->taken == current_->count) {
    if (takeReadyBatch() == nullptr) return nullptr;
  }
  return &current_->items[current_->taken++];
}

}  // namespace zuqonl
