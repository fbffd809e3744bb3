// One connection's table stream, read on a thread of its own a few batches
// of events ahead of the notification thread: reading and splitting the
// table file then runs on a second core while the program's callback takes
// the rows before them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dataserver/table_stream.h"
#include "notice.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace zuqonl {

// What it reads: every event of the stream, in order. It stops reading at a
// Pause and goes on only after resume(), which the server calls once it has
// waited the pause out: a file that is being written is looked at again no
// sooner than the pause says, and a scripted pause holds the rest of the
// table back as long. It stops for good at End.
//
// Rows come as their records, built on the reader's thread: the
// notification thread lends each to the callback (Notice::lent) as it is.
//
// Memory: kBatches batches of kBatchBytes of records (a row larger than
// that has a batch of its own, whose block goes back before the batch is
// filled again), whatever the table's length.
//
// Threads: the stream is the reader's from the constructor on. next(),
// resume() and the destructor are for one thread, the consumer's; `wake` is
// called on the reader's thread when a batch arrives for a consumer that may
// have found none. When no thread can be started, next() reads each batch
// itself on the consumer's thread.
//
// Out of memory: a reader thread that finds no memory for a batch ends, and
// next() reads on by itself from the event it stopped at, in one batch whose
// block is the only one kept (the thread's stack and the other batches are
// given back first), as when no thread could be started. Only where that
// finds no memory either does next() throw std::bad_alloc; the events read
// before it are handed out first, and a later next() tries that event
// again.
class TableReadAhead {
 public:
  // `stream` (opened) must outlive this object; its rows are records of
  // connection `conn`. `ownThread` false reads on the consumer's thread, as
  // when no thread can be started.
  TableReadAhead(dataserver::TableStream& stream, int32_t conn, std::function<void()> wake,
                 bool ownThread = true);
  // Stops the reader (it finishes the batch in hand) and waits for it.
  ~TableReadAhead();
  TableReadAhead(const TableReadAhead&) = delete;
  TableReadAhead& operator=(const TableReadAhead&) = delete;

  // A row event's record: `bytes` long, texts included.
  struct Row {
    RowNotice* record = nullptr;
    size_t bytes = 0;
  };

  // The stream's next event and, for a row event, its record in *row (its
  // values are not set); both valid until the next call. Null when the
  // reader has not read the event yet (`wake` then follows once it has) or
  // holds at a Pause not resumed. What the reader failed with is thrown
  // here, after the events read before it, as if the consumer had read the
  // table itself; for no memory, see above.
  const dataserver::TableEvent* next(Row* row);

  // The Pause last taken has been waited out: reading goes on.
  void resume();

  // Batches of a few thousand rows: each batch handed over may wake a
  // thread, and on a large table fewer meetings of the two threads are worth
  // more than the memory of larger batches (6 MB in all; with 512 KB each, a
  // million rows took 3% longer).
  static constexpr size_t kBatches = 3;
  static constexpr size_t kBatchBytes = 2048 * 1024;
  static constexpr size_t kBatchEvents = 16384;

 private:
  // What each thread writes for every event stands on cache lines of its
  // own: a line that both threads touch would have to travel between the
  // cores for every event, which costs more than reading the event itself.
  // 64 bytes is the cache line of the processors served.
  static constexpr size_t kCacheLine = 64;

  // Events as they travel between the threads.
  struct alignas(kCacheLine) Batch {
    struct Item {
      dataserver::EventKind kind;
      int32_t rowId;
      int32_t number;
      int32_t text;  // into texts, -1: none
      Row row;       // a row event's
    };
    std::vector<Item> items;
    RowRecords records{kBatchBytes};
    std::vector<std::string> texts;
    size_t taken = 0;    // items handed out by next()
    bool holds = false;  // ends with a Pause or End: the reader stops after it
  };

  void readerLoop();
  // Reads events into `batch` until it is full or holds. An event that
  // finds no memory stays to be read again (pending_, or the stream stands
  // before it), and the events before it stay in the batch.
  void fill(Batch& batch);
  Batch* takeReadyBatch();
  // The reader thread ended for want of memory: it is joined, the free
  // batches give their blocks back, and next() reads on by itself.
  void takeOverFromReader();

  dataserver::TableStream& stream_;
  const int32_t conn_;
  const std::function<void()> wake_;
  Batch batches_[kBatches];
  // The reader's scratch space for one event; `pending_` when it is read
  // and did not fit in the batch before.
  alignas(kCacheLine) dataserver::TableEvent readEvent_;
  std::vector<std::string_view> readValues_;
  bool pending_ = false;
  // The consumer's: the batch it takes events from, and the event handed out.
  alignas(kCacheLine) Batch* current_ = nullptr;
  dataserver::TableEvent event_;
  bool inline_ = false;  // no reader thread: next() fills batches itself

  alignas(kCacheLine) platform::Mutex mutex_;
  platform::CondVar changed_;
  std::vector<Batch*> free_ GUARDED_BY(mutex_);
  std::vector<Batch*> ready_ GUARDED_BY(mutex_);   // oldest first
  bool held_ GUARDED_BY(mutex_) = false;           // a Pause was read; no resume() yet
  bool ended_ GUARDED_BY(mutex_) = false;          // End was read
  std::exception_ptr failure_ GUARDED_BY(mutex_);  // the reader's; it reads no more
  bool memoryShort_ GUARDED_BY(mutex_) = false;    // the reader found no memory and ended
  bool stop_ GUARDED_BY(mutex_) = false;
  std::thread reader_;
};

}  // namespace zuqonl
