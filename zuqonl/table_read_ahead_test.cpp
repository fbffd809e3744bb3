#include "table_read_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace zuqonl {
namespace {

using dataserver::EventKind;
using dataserver::TableEvent;
using dataserver::TableStream;
using Events = std::vector<std::string>;

constexpr int32_t kConn = 7;

// One event as a short line ("add 3 x|y", "pause 50", "error ..."). A row
// is described from its record, which must be of connection kConn and
// carry its values and no more.
std::string describe(const TableEvent& event, const TableReadAhead::Row& row, size_t columns) {
  static const char* const kNames[] = {"add",    "update", "delete",  "clear", "error",
                                       "sync",   "pause",  "ds_down", "ds_up", "net_lost",
                                       "net_ok", "code",   "end"};
  std::string out = kNames[static_cast<int>(event.kind)];
  if (event.kind == EventKind::AddRow || event.kind == EventKind::UpdateRow ||
      event.kind == EventKind::DeleteRow) {
    if (row.record == nullptr) return out + " without a record";
    if (row.record->conn != kConn) out += " of conn " + std::to_string(row.record->conn);
    if (row.record->rowID != event.rowId) out += " with rowID " + std::to_string(row.record->rowID);
    out += " " + std::to_string(event.rowId) + " ";
    for (size_t i = 0; i < ZUQONL_ROW_VALUES; ++i) {
      const char* value = row.record->values[i];
      if (i >= columns) {
        if (value != nullptr) out += " value past the columns";
        continue;
      }
      if (value == nullptr) return out + " null value";
      (out += i > 0 ? "|" : "") += value;
    }
    return out;
  }
  if (row.record != nullptr) out += " with a record";
  if (event.kind == EventKind::Error || event.kind == EventKind::NetLost ||
      event.kind == EventKind::NetOk) {
    return out + " " + event.text;
  }
  if (event.kind == EventKind::Pause || event.kind == EventKind::Code) {
    return out + " " + std::to_string(event.number);
  }
  return out;
}

// Counts the reader's wake calls, so that a consumer can wait for one.
class Waker {
 public:
  void wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++wakes_;
    changed_.notify_all();
  }
  // Waits up to ten seconds for a wake after `seen` of them.
  int waitPast(int seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return wakes_ > seen; });
    return wakes_;
  }
  int wakes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wakes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int wakes_ = 0;
};

class TableReadAheadTest : public ::testing::TestWithParam<bool> {
 protected:
  void write(const std::string& bytes) { folder_.write("t.csv", bytes); }
  void append(const std::string& bytes) {
    std::ofstream(folder_.path() / "t.csv", std::ios::binary | std::ios::app) << bytes;
  }

  // Opens table t, requesting `columns`, and reads it ahead (on a thread of
  // its own when the test's parameter says so).
  void open(const std::string& columns) {
    std::string err;
    ASSERT_TRUE(
        stream_.open(folder_.dir(), dataserver::Subscription{"t", columns, "", "", ""}, &err))
        << err;
    columns_ = static_cast<size_t>(stream_.columnCount());
    reader_ = std::make_unique<TableReadAhead>(
        stream_, kConn, [this] { waker_.wake(); }, GetParam());
  }

  // The next event, described; waits for the reader as a server would.
  std::string next() {
    TableReadAhead::Row row;
    for (int tries = 0; tries < 100; ++tries) {
      const int seen = waker_.wakes();
      if (const TableEvent* event = reader_->next(&row)) return describe(*event, row, columns_);
      if (!GetParam()) return "nothing read on the consumer's thread";
      waker_.waitPast(seen);
    }
    return "nothing read";
  }

  // Every event to End; each Pause is resumed at once.
  Events all() {
    Events out;
    for (;;) {
      out.push_back(next());
      if (out.back().starts_with("pause")) reader_->resume();
      if (out.back() == "end" || out.back().starts_with("nothing") || out.size() > 100000) {
        return out;
      }
    }
  }

  testsupport::TempDir folder_{"read-ahead-test"};
  TableStream stream_;
  size_t columns_ = 0;
  Waker waker_;
  std::unique_ptr<TableReadAhead> reader_;
};

// Every kind of event comes through in order, rows as records of the
// connection with their values, texts and numbers as the stream gave them.
TEST_P(TableReadAheadTest, EveryEventInOrder) {
  write(
      "@op,@text,@ms,@code,a,b\n"
      ",,,,a1,b1\n"
      "update,,,,\"a,2\",\"b\n2\"\n"
      "delete,,,,,\n"
      "clear,,,,,\n"
      "error,bad thing,,,,\n"
      "pause,,0,,,\n"
      "ds_down,,,,,\n"
      "ds_up,,,,,\n"
      "net_lost,link gone,,,,\n"
      "net_ok,back,,,,\n"
      "code,,,-17,,\n"
      "sync,,,,,\n"
      ",,,,live,\n");
  open("b,missing,a");
  EXPECT_EQ(all(), (Events{"add 1 b1||a1", "update 2 b\n2||a,2", "delete 3 ||", "clear",
                           "error bad thing", "pause 0", "ds_down", "ds_up", "net_lost link gone",
                           "net_ok back", "code -17", "sync", "add 4 ||live", "end"}));
}

// Many rows fill batch after batch; a row larger than a batch comes whole
// in a batch of its own, and the rows around it are neither lost nor
// doubled.
TEST_P(TableReadAheadTest, RowsAcrossBatchesAndARowLargerThanABatch) {
  // Larger than a batch in three values, since one value is bounded.
  const std::string large(TableReadAhead::kBatchBytes / 3 + 1000, 'x');
  static_assert(TableReadAhead::kBatchBytes / 3 + 1000 <= dataserver::kMaxFieldBytes);
  const auto rows = static_cast<int>(2 * TableReadAhead::kBatchEvents + 100);
  std::string table = "u,v,w\n";
  Events expected;
  for (int i = 1; i <= rows; ++i) {
    const std::string v = i == rows / 2 ? large : "v" + std::to_string(i);
    table += v + "," + v + "," + v + "\n";
    expected.push_back("add " + std::to_string(i) + " " + v + "|" + v + "|" + v);
  }
  expected.insert(expected.end(), {"sync", "end"});
  write(table);
  open("u,v,w");
  EXPECT_EQ(all(), expected);
}

// The reader goes no further than a Pause until it is resumed: a last line
// that is cut is looked at again only then, and comes whole once the file
// has its line end, not as an Error after looks in quick succession.
TEST_P(TableReadAheadTest, HoldsAtAPauseUntilResumed) {
  write("v\nfirst\nsec");
  open("v");
  EXPECT_EQ(next(), "add 1 first");
  EXPECT_EQ(next(), "pause " + std::to_string(dataserver::kLineEndPollMs));
  append("ond\n");
  reader_->resume();
  EXPECT_EQ(next(), "add 2 second");
  EXPECT_EQ(next(), "sync");
}

// A reader stopped in the middle of a long table, or held at a long pause,
// ends at once.
TEST_P(TableReadAheadTest, StopsInTheMiddle) {
  std::string table = "@op,@ms,v\n";
  for (int i = 0; i < 20000; ++i) table += ",,row\n";
  write(table);
  open("v");
  EXPECT_EQ(next(), "add 1 row");
  reader_.reset();
  write("@op,@ms,v\n,,a\npause,3600000,\n,,b\n");
  open("v");
  EXPECT_EQ(next(), "add 1 a");
  EXPECT_EQ(next(), "pause 3600000");
  reader_.reset();
}

INSTANTIATE_TEST_SUITE_P(OnAThreadOrInline, TableReadAheadTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "OwnThread" : "Inline";
                         });

}  // namespace
}  // namespace zuqonl
