// The table reader out of memory: a reader thread that finds no memory
// hands over to its consumer, which reads on by itself, and no event is lost
// or doubled on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "table_read_ahead.h"
#include "testsupport/sanitizers.h"
#include "testsupport/temp_dir.h"

namespace {

// The next `failures` allocations of at least `failFrom` bytes, on any
// thread, fail as when the memory runs out just then.
std::atomic<std::size_t> failFrom{0};
std::atomic<int> failures{0};

[[maybe_unused]] bool failsNow(std::size_t size) {
  if (size < failFrom.load()) return false;
  int left = failures.load();
  while (left > 0 && !failures.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

}  // namespace

#ifndef ZUQ_ALLOCATOR_SANITIZED
// Replaced for this test program only; a sanitizer's allocator pairs its own
// operators, so under one the tests are skipped instead.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  if (failsNow(size)) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void* operator new(std::size_t size, std::align_val_t align) {
  if (failsNow(size)) throw std::bad_alloc();
  const std::size_t alignment = static_cast<std::size_t>(align);
#ifdef _WIN32
  void* memory = _aligned_malloc(size == 0 ? 1 : size, alignment);
#else
  void* memory = nullptr;
  if (posix_memalign(&memory, alignment < sizeof(void*) ? sizeof(void*) : alignment,
                     size == 0 ? 1 : size) != 0) {
    memory = nullptr;
  }
#endif
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void operator delete(void* memory, std::align_val_t) noexcept {
#ifdef _WIN32
  _aligned_free(memory);
#else
  std::free(memory);
#endif
}
void operator delete(void* memory, std::size_t, std::align_val_t align) noexcept {
  operator delete(memory, align);
}
#endif

namespace zuqonl {
namespace {

struct Failure {
  const char* name;
  std::size_t from;  // the size from which allocations fail
  int count;
};

// A table of small rows with one large row (300 kB, beyond a batch and
// beyond the stream's read buffer) in the middle; the event names the row.
class ReadAheadOutOfMemoryTest : public ::testing::TestWithParam<Failure> {
 protected:
  void SetUp() override {
#ifdef ZUQ_ALLOCATOR_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator cannot be made to fail on cue";
#endif
    std::string table = "v\n";
    for (int i = 1; i <= 3000; ++i) {
      const std::string v = i == 1500 ? std::string(300 * 1000, 'x') : "v" + std::to_string(i);
      table += v + "\n";
      expected_.push_back(i == 1500 ? "large" : v);
    }
    expected_.push_back("sync");
    folder_.write("t.csv", table);
    std::string err;
    ASSERT_TRUE(stream_.open(folder_.dir(), dataserver::Subscription{"t", "v", "", "", ""}, &err))
        << err;
  }
  void TearDown() override { failures = 0; }

  // The events to Synchronized, the failures it met counted in *thrown.
  std::vector<std::string> serve(TableReadAhead& reader, int* thrown) {
    std::vector<std::string> events;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < giveUp) {
      TableReadAhead::Row row;
      const dataserver::TableEvent* event = nullptr;
      try {
        event = reader.next(&row);
      } catch (const std::bad_alloc&) {
        ++*thrown;
        continue;  // as if memory came back: the same event is read again
      }
      if (event == nullptr) {  // the reader thread has not read on yet
        std::this_thread::yield();
        continue;
      }
      if (event->kind == dataserver::EventKind::Synchronized) {
        events.push_back("sync");
        break;
      }
      const std::string value = row.record != nullptr ? row.record->values[0] : "no record";
      events.push_back(value.size() > 1000 ? "large" : value);
    }
    return events;
  }

  testsupport::TempDir folder_{"read-ahead-memory-test"};
  dataserver::TableStream stream_;
  std::vector<std::string> expected_;
};

// A reader thread that finds no memory (for a batch's block, for the large
// row's copy in the stream) hands over: every event comes, in order, none
// thrown at the consumer. Where the consumer finds none either, it is told,
// and the same event comes once it asks again.
TEST_P(ReadAheadOutOfMemoryTest, NoEventIsLostOrDoubled) {
  failFrom = GetParam().from;
  failures = GetParam().count;
  TableReadAhead reader(stream_, 1, [] {});
  int thrown = 0;
  const std::vector<std::string> events = serve(reader, &thrown);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(thrown, GetParam().count - 1);
  EXPECT_EQ(events, expected_);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReadAheadOutOfMemoryTest,
    ::testing::Values(Failure{"ABatchOnTheReaderThread", TableReadAhead::kBatchBytes, 1},
                      Failure{"TheLargeRowOnTheReaderThread", 200 * 1000, 1},
                      Failure{"TheLargeRowOnBothThreads", 200 * 1000, 2}),
    [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

}  // namespace
}  // namespace zuqonl
