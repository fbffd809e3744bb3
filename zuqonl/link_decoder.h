// The frames of a data server's link, decoded on a thread of its own a few
// reads ahead of the notification thread: decoding the frames and building
// the rows' records then runs on a second core while the program's callback
// takes the rows before them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dataserver/protocol.h"
#include "notice.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace zuqonl {

// What it yields: the messages of the bytes fed since the last startLink(),
// in order; an Event's row comes as its record, built on the decoder's
// thread (the Event's own values are left empty), for the notification
// thread to lend to the callback (Notice::lent). A malformed frame is the
// last thing it yields for the link.
//
// Memory: kChunks reads of at most kChunkBytes wait to be decoded, and
// kBatches batches of decoded messages (kBatchBytes of records each, a
// larger row in a batch of its own) to be taken, whatever the link brings.
// A reader that feeds only while hasRoom() is true reads the link no faster
// than the callback takes the notifications.
//
// Threads: every call is for one thread, the consumer's; `ready` is called
// on the decoder's thread when messages arrive for a consumer that has taken
// all before them. When no thread can be started, feed() decodes at once.
class LinkDecoder {
 public:
  static constexpr size_t kChunks = 2;
  static constexpr size_t kChunkBytes = 64 * 1024;
  static constexpr size_t kBatches = 3;
  static constexpr size_t kBatchBytes = 128 * 1024;

  static constexpr size_t kBatchItems = 1024;

  // One decoded message, or the link's fault.
  struct Decoded {
    // An Event's row: its record, `recordBytes` long, and the event.
    RowNotice* record = nullptr;
    size_t recordBytes = 0;
    uint32_t subId = 0;
    dataserver::EventKind kind = dataserver::EventKind::AddRow;
    // Any other message.
    dataserver::protocol::Message message;
    std::string fault;  // not empty: the frame is malformed, and this says how
    std::string end;    // not empty: the link ended after the messages before (end())
  };

  // `ownThread` false decodes on the consumer's thread, as when no thread
  // can be started.
  explicit LinkDecoder(std::function<void()> ready, bool ownThread = true);
  ~LinkDecoder();
  LinkDecoder(const LinkDecoder&) = delete;
  LinkDecoder& operator=(const LinkDecoder&) = delete;

  // The bytes fed from now on are a new link's: what was fed before, decoded
  // or not, is forgotten.
  void startLink();
  // True when another read may be fed.
  bool hasRoom();
  // Hands over `size` bytes (at most kChunkBytes) read from the link; only
  // while hasRoom().
  void feed(const char* data, size_t size);
  // The link ended (`why`, not empty): once the messages of the bytes fed
  // before are taken, next() yields this.
  void end(std::string why);
  // The next message decoded, valid until the next call; null when none is
  // decoded yet (`ready` follows when one is).
  const Decoded* next();

 private:
  struct Chunk {
    std::vector<char> bytes;
    size_t size = 0;
    uint64_t link = 0;
  };
  struct Batch {
    std::vector<Decoded> items;
    size_t count = 0;  // items in use
    size_t taken = 0;  // handed out by next()
    RowRecords records{kBatchBytes};
    uint64_t link = 0;
  };

  void workerLoop();
  // One step of decoding: a fed chunk into the decoder, or what the decoder
  // holds into a free batch, handed over. False when there is nothing to do
  // or no batch to do it in. On the worker's thread, or the consumer's
  // without one; `lock` is held on entry and on return.
  bool step(platform::MutexLock& lock) REQUIRES(mutex_);
  // Decodes what the decoder holds into `batch` until it holds no whole
  // frame, the batch is full or the link is found malformed; true when the
  // decoder may hold more.
  bool decodeInto(Batch& batch);
  Decoded& newItem(Batch& batch);
  // Puts `batch` among the ready ones, and calls `ready` if it is the first.
  void handOver(Batch* batch, platform::MutexLock& lock) REQUIRES(mutex_);
  Batch* takeReadyBatch();

  const std::function<void()> ready_;
  Chunk chunks_[kChunks];
  Batch batches_[kBatches];
  bool inline_ = false;

  // The decoder's own (the worker's, or the consumer's without one).
  std::optional<dataserver::protocol::Decoder> decoder_;
  uint64_t decoderLink_ = 0;
  bool holdsMore_ = false;  // the decoder may hold whole frames
  bool malformed_ = false;  // the link's fault is found: its later bytes are not looked at
  // The message last decoded; `placed_` false when it did not fit in the
  // batch before and goes first into the next.
  dataserver::protocol::Message message_;
  std::vector<std::string_view> values_;
  bool placed_ = true;

  // The consumer's.
  Batch* current_ = nullptr;
  uint64_t link_ = 1;  // the link now fed

  platform::Mutex mutex_;
  platform::CondVar changed_;
  std::vector<Chunk*> freeChunks_ GUARDED_BY(mutex_);
  std::vector<Chunk*> fedChunks_ GUARDED_BY(mutex_);  // oldest first
  std::vector<Batch*> freeBatches_ GUARDED_BY(mutex_);
  std::vector<Batch*> readyBatches_ GUARDED_BY(mutex_);  // oldest first
  uint64_t currentLink_ GUARDED_BY(mutex_) = 1;
  std::string endWhy_ GUARDED_BY(mutex_);         // the current link's end, not yet yielded
  bool waitsForRoom_ GUARDED_BY(mutex_) = false;  // hasRoom() said no
  bool stop_ GUARDED_BY(mutex_) = false;
  std::thread worker_;
};

}  // namespace zuqonl
