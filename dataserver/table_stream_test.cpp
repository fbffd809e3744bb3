#include "dataserver/table_stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace dataserver {
namespace {

using namespace std::string_literals;
using Events = std::vector<std::string>;

// One event as a short line, e.g. "add 3 x|y", "error t.csv:2: ...", "sync";
// `values` are a row event's.
std::string describe(const TableEvent& event, const std::vector<std::string_view>& values) {
  static const char* const kNames[] = {"add",    "update", "delete",  "clear", "error",
                                       "sync",   "pause",  "ds_down", "ds_up", "net_lost",
                                       "net_ok", "code",   "end"};
  std::string out = kNames[static_cast<int>(event.kind)];
  switch (event.kind) {
    case EventKind::AddRow:
    case EventKind::UpdateRow:
    case EventKind::DeleteRow:
      out += " " + std::to_string(event.rowId) + " ";
      for (size_t i = 0; i < values.size(); ++i) (out += i > 0 ? "|" : "") += values[i];
      return out;
    case EventKind::Error:
    case EventKind::NetLost:
    case EventKind::NetOk:
      return out + " " + event.text;
    case EventKind::Pause:
    case EventKind::Code:
      return out + " " + std::to_string(event.number);
    default:
      return out;
  }
}

// The next event of `stream`, described.
std::string nextDescribed(TableStream& stream) {
  TableEvent event;
  std::vector<std::string_view> values;
  stream.next(&event, &values);
  return describe(event, values);
}

class TableStreamTest : public ::testing::Test {
 protected:
  void write(const std::string& table, const std::string& bytes) {
    folder_.write(table + ".csv", bytes);
  }

  // Every event up to and including the first End, and one more to show that
  // End repeats.
  Events events(const Subscription& sub) {
    TableStream stream;
    std::string err;
    if (!stream.open(dir_, sub, &err)) return {"open failed: " + err};
    Events out;
    TableEvent event;
    std::vector<std::string_view> values;
    auto next = [&] {
      stream.next(&event, &values);
      out.push_back(describe(event, values));
    };
    do {
      next();
    } while (event.kind != EventKind::End && out.size() < 1000);
    next();
    return out;
  }
  Events events(const std::string& columns, const std::string& from = "",
                const std::string& to = "", const std::string& key = "k") {
    return events(Subscription{"t", columns, key, from, to});
  }

  testsupport::TempDir folder_{"table-stream-test"};
  const std::string dir_ = folder_.dir();
};

// The looks of a stream that waits in vain for a line end, then `error`.
Events gaveUpWaiting(const std::string& error) {
  Events out(kLineEndPolls, "pause " + std::to_string(kLineEndPollMs));
  out.insert(out.end(), {"error " + error, "end", "end"});
  return out;
}

TEST_F(TableStreamTest, RowsInRequestedOrder) {
  write("t", "k,@op,a,b,@text,c\r\nk1,,a1,b1,x,c1\n\"k,2\",add,\"a\n2\",\"b\"\"2\",x,c2\r\n");
  EXPECT_EQ(events("c,a,missing,@text,,c"),
            (Events{"add 1 c1|a1||||c1", "add 2 c2|a\n2||||c2", "sync", "end", "end"}));
  EXPECT_EQ(events(""), (Events{"add 1 ", "add 2 ", "sync", "end", "end"}));
}

TEST_F(TableStreamTest, RowIds) {
  write("t", "@rowid,@op,v\n,,a\n7,update,b\n-2147483648,delete,c\n,clear,\n,,d\n2147483647,,e\n");
  EXPECT_EQ(events("v"), (Events{"add 1 a", "update 7 b", "delete -2147483648 c", "clear",
                                 "add 4 d", "add 2147483647 e", "sync", "end", "end"}));
  write("t", "v\nx\ny\n");
  EXPECT_EQ(events("v"), (Events{"add 1 x", "add 2 y", "sync", "end", "end"}));
}

TEST_F(TableStreamTest, EveryControlLine) {
  write("t",
        "@op,@text,@ms,@code,v\n"
        "clear,,,,\n"
        "error,bad thing,,,\n"
        "pause,,0,,\n"
        "pause,,3600000,,\n"
        "ds_down,,,,\n"
        "ds_up,,,,\n"
        "net_lost,link gone,,,\n"
        "net_ok,,,,\n"
        "code,,,-17,\n"
        "code,,,31,\n"
        "sync,,,,\n"
        "add,,,,live\n"
        "sync,,,,\n");
  EXPECT_EQ(events("v"), (Events{"clear", "error bad thing", "pause 0", "pause 3600000", "ds_down",
                                 "ds_up", "net_lost link gone", "net_ok ", "code -17", "code 31",
                                 "sync", "add 1 live", "sync", "end", "end"}));
}

TEST_F(TableStreamTest, StallEndsWithoutSynchronized) {
  write("t", "@op,v\n,a\nstall,\n,b\n");
  EXPECT_EQ(events("v"), (Events{"add 1 a", "end", "end"}));
  write("t", "@op,v\n,a\nsync,\n,b\nstall,\n,c\n");
  EXPECT_EQ(events("v"), (Events{"add 1 a", "sync", "add 2 b", "end", "end"}));
}

TEST_F(TableStreamTest, KeyRangeIsInclusiveAndBytewise) {
  write("t",
        "@op,k,v\n,a,1\n,b,2\n,ba,3\nsync,,\n,c,4\nupdate,b,5\ndelete,z,6\n,\xc3\xa9,7\n,B,8\n");
  EXPECT_EQ(events("v", "b", "c"),
            (Events{"add 2 2", "add 3 3", "sync", "add 4 4", "update 5 5", "end", "end"}));
  EXPECT_EQ(events("v", "b", "b"), (Events{"add 2 2", "sync", "update 5 5", "end", "end"}));
  EXPECT_EQ(events("v", "z", "\xff"), (Events{"sync", "delete 6 6", "add 7 7", "end", "end"}));
  EXPECT_EQ(events("v", "c", "b"), (Events{"sync", "end", "end"}));
  // A missing key column reads as empty, which only a range from "" takes.
  EXPECT_EQ(events("v", "", "a", "nokey"),
            (Events{"add 1 1", "add 2 2", "add 3 3", "sync", "add 4 4", "update 5 5", "delete 6 6",
                    "add 7 7", "add 8 8", "end", "end"}));
  EXPECT_EQ(events("v", "a", "z", "nokey"), (Events{"sync", "end", "end"}));
  EXPECT_EQ(events("v", "a", "z", "@op"), (Events{"sync", "end", "end"}));
}

// A long run of rows outside the range gives the server a turn now and
// then, and loses nothing.
TEST_F(TableStreamTest, LongScanYieldsZeroPauses) {
  std::string table = "k,v\n";
  for (int i = 0; i < 3 * kScanSlice; ++i) table += "a," + std::to_string(i) + "\n";
  write("t", table + "b,last\n");
  Events expected(3, "pause 0");
  expected.insert(expected.end(),
                  {"add " + std::to_string(3 * kScanSlice + 1) + " last", "sync", "end", "end"});
  EXPECT_EQ(events("v", "b", "b"), expected);
}

TEST_F(TableStreamTest, EmptyAndShortFiles) {
  write("t", "");
  EXPECT_EQ(events("a,b"), gaveUpWaiting("t.csv: no header line (the file is empty)"));
  write("t", "\xEF\xBB\xBF");
  EXPECT_EQ(events("a,b"), gaveUpWaiting("t.csv: no header line (the file is empty)"));
  write("t", "a,b");
  EXPECT_EQ(events("a,b"), gaveUpWaiting("t.csv:1: the last line has no line end"));
  write("t", "a,b\r\n");
  EXPECT_EQ(events("a,b"), (Events{"sync", "end", "end"}));
  write("t", "a\nx\n\ny\n");
  EXPECT_EQ(events("a"), (Events{"add 1 x", "add 2 ", "add 3 y", "sync", "end", "end"}));
  write("t", "a,b\nx,y\n\n");
  EXPECT_EQ(events("a"),
            (Events{"add 1 x", "error t.csv:3: record has 1 field, header has 2", "end", "end"}));
}

TEST_F(TableStreamTest, MalformedFiles) {
  struct Case {
    std::string bytes;
    std::string error;
  };
  const Case cases[] = {
      {"@rowid,v\n1,a\n2,b,c\n", "t.csv:3: record has 3 fields, header has 2"},
      {"@rowid,v\n1,a\n2,\"b\n\nc\n", "t.csv:3: unterminated quoted field"},
      {"@rowid,v\n1,a\n2,\"b\"c\n", "t.csv:3: text after a closing quote"},
      {"@rowid,v\n1,a\n2,b\0\n"s, "t.csv:3: NUL byte"},
      {"@rowid,v\n1,a\nx1,b\n", "t.csv:3: bad @rowid 'x1'"},
      {"@rowid,v\n1,a\n2147483648,b\n", "t.csv:3: bad @rowid '2147483648'"},
      {"@rowid,v\n1,a\n+2,b\n", "t.csv:3: bad @rowid '+2'"},
      {"@rowid,v\n1,a\n 2,b\n", "t.csv:3: bad @rowid ' 2'"},
      {"@op,@ms,v\n,,a\npause,-1,\n", "t.csv:3: bad @ms '-1' (0 to 3600000)"},
      {"@op,@ms,v\n,,a\npause,3600001,\n", "t.csv:3: bad @ms '3600001' (0 to 3600000)"},
      {"@op,v\n,a\npause,\n", "t.csv:3: bad @ms '' (0 to 3600000)"},
      {"@op,@code,v\n,,a\ncode,0x10,\n", "t.csv:3: bad @code '0x10'"},
      {"@op,v\n,a\nAdd,\n", "t.csv:3: unknown @op 'Add'"},
      {"@op,v\n,a\n\"bad\nop\",\n", "t.csv:3: unknown @op 'bad?op'"},
  };
  for (const Case& c : cases) {
    write("t", c.bytes);
    Events expected = c.error.ends_with("unterminated quoted field")
                          ? gaveUpWaiting(c.error)
                          : Events{"error " + c.error, "end", "end"};
    expected.insert(expected.begin(), "add 1 a");
    EXPECT_EQ(events("v"), expected) << c.bytes;
  }
  write("t", "v\na\nb");
  Events cut = gaveUpWaiting("t.csv:3: the last line has no line end");
  cut.insert(cut.begin(), "add 1 a");
  EXPECT_EQ(events("v"), cut);
}

// A table file read while it is appended to: its last line comes whole,
// once its line end is there, never cut ("101." for "101.25").
TEST_F(TableStreamTest, ALineIsDeliveredOnlyWithItsLineEnd) {
  const std::string pause = "pause " + std::to_string(kLineEndPollMs);
  auto append = [this](const std::string& bytes) {
    std::ofstream(dir_ + "/t.csv", std::ios::binary | std::ios::app) << bytes;
  };
  write("t", "k,v\n1,100.5\n2,101.");
  TableStream stream;
  std::string err;
  ASSERT_TRUE(stream.open(dir_, Subscription{"t", "v", "", "", ""}, &err)) << err;
  EXPECT_EQ(nextDescribed(stream), "add 1 100.5");
  EXPECT_EQ(nextDescribed(stream), pause);
  // Growth without a line end renews the wait.
  for (int i = 1; i < kLineEndPolls; ++i) EXPECT_EQ(nextDescribed(stream), pause);
  append("2");
  for (int i = 0; i < kLineEndPolls; ++i) EXPECT_EQ(nextDescribed(stream), pause);
  append("5\r\n3,x\n");
  EXPECT_EQ(nextDescribed(stream), "add 2 101.25");
  EXPECT_EQ(nextDescribed(stream), "add 3 x");
  EXPECT_EQ(nextDescribed(stream), "sync");

  // A file made empty and written afterwards: the header comes too.
  write("t", "");
  ASSERT_TRUE(stream.open(dir_, Subscription{"t", "v", "", "", ""}, &err)) << err;
  EXPECT_EQ(stream.columnCount(), 1);
  EXPECT_EQ(nextDescribed(stream), pause);
  append("\xEF\xBB\xBFv\n7\n");
  EXPECT_EQ(nextDescribed(stream), "add 1 7");
  EXPECT_EQ(nextDescribed(stream), "sync");
}

TEST_F(TableStreamTest, MalformedHeaderGivesNothingButTheError) {
  write("t", "a,\"b\n");
  EXPECT_EQ(events("a"), gaveUpWaiting("t.csv:1: unterminated quoted field"));
  std::string wide;
  for (size_t i = 0; i <= kMaxColumns; ++i) wide += "c" + std::to_string(i) + ",";
  write("t", wide + "\n");
  EXPECT_EQ(events("a"), (Events{"error t.csv:1: record has more than 1024 fields", "end", "end"}));
}

TEST_F(TableStreamTest, FaultIsCheckedOnFilteredRows) {
  write("t", "@rowid,k,v\n1,a,x\nbad,z,y\n");
  EXPECT_EQ(events("v", "a", "a"),
            (Events{"add 1 x", "error t.csv:3: bad @rowid 'bad'", "end", "end"}));
}

TEST_F(TableStreamTest, LimitsOfFieldsAndRecords) {
  const std::string big(kMaxFieldBytes, 'x');
  write("t", "v\n" + big + "\n" + big + "y\n");
  Events got = events("v");
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "add 1 " + big);
  EXPECT_EQ(got[1], "error t.csv:3: field longer than 1048576 bytes");
  write("t", "a,b,c,d,e\n" + big + "," + big + "," + big + "," + big + ",z\n");
  EXPECT_EQ(events("e"), (Events{"error t.csv:2: record longer than 4194304 bytes", "end", "end"}));
}

TEST_F(TableStreamTest, ARefusedRowIsNeverBuiltAndEndsTheStream) {
  const std::string big(kMaxFieldBytes, 'x');
  write("t", "v,w\na,b\n" + big + ",c\nd,e\n");
  std::vector<std::string> checked;
  TableStream stream;
  stream.checkRows([&checked](int32_t rowId, size_t count, size_t bytes, std::string* err) {
    checked.push_back(std::to_string(rowId) + ":" + std::to_string(count) + ":" +
                      std::to_string(bytes));
    *err = "row " + std::to_string(rowId) + " refused";
    return bytes < 1000;
  });
  std::string err;
  // Checks survive a new open.
  ASSERT_TRUE(stream.open(dir_, Subscription{"t", "v,w,w", "", "", ""}, &err)) << err;
  EXPECT_EQ(nextDescribed(stream), "add 1 a|b|b");
  TableEvent event;
  std::vector<std::string_view> values;
  stream.next(&event, &values);
  EXPECT_EQ(describe(event, values), "error row 2 refused");
  EXPECT_TRUE(values.empty()) << "the refused row was handed out";
  EXPECT_EQ(nextDescribed(stream), "end");
  EXPECT_EQ(checked,
            (std::vector<std::string>{"1:3:3", "2:3:" + std::to_string(kMaxFieldBytes + 2)}));
}

// A table file saved with a UTF-8 byte order mark: the mark is no part of
// the first column's name. Only at the very start is it skipped.
TEST_F(TableStreamTest, ByteOrderMarkAtTheStartIsSkipped) {
  write("t", "\xEF\xBB\xBFk,v\n1,\xEF\xBB\xBFx\n");
  EXPECT_EQ(events("k,v"), (Events{"add 1 1|\xEF\xBB\xBFx", "sync", "end", "end"}));
  write("t", "\xEF\xBB,k\n1,2\n");
  EXPECT_EQ(events("\xEF\xBB,k"), (Events{"add 1 1|2", "sync", "end", "end"}));
  write("t", "k\n\xEF\xBB\xBF\n");
  EXPECT_EQ(events("k"), (Events{"add 1 \xEF\xBB\xBF", "sync", "end", "end"}));
}

#ifndef _WIN32
// A FIFO or a device never blocks the open and is refused by name.
TEST_F(TableStreamTest, FifoOrDeviceIsNoTableFile) {
  ASSERT_EQ(mkfifo((dir_ + "/fifo.csv").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir_ + "/zero.csv");
  for (const char* table : {"fifo", "zero"}) {
    EXPECT_EQ(events(Subscription{table, "a", "", "", ""}),
              Events{"open failed: " + std::string(table) + ".csv: not a regular file"});
  }
}
#endif

TEST_F(TableStreamTest, OpenFailures) {
  std::string err;
  TableStream stream;
  EXPECT_FALSE(stream.open(dir_, Subscription{"Trade", "a", "", "", ""}, &err));
  EXPECT_EQ(err, "unknown table 'Trade'");
  write("t", "a\n1\n");
  for (const std::string& table :
       std::vector<std::string>{"", "../t", "x/t", "x\\t", "..", "t\0"s, "a..b"}) {
    EXPECT_FALSE(stream.open(dir_, Subscription{table, "a", "", "", ""}, &err)) << table;
    EXPECT_EQ(err, "unknown table '" + (table == "t\0"s ? "t?"s : table) + "'");
  }
  std::filesystem::create_directory(dir_ + "/folder.csv");
  EXPECT_FALSE(stream.open(dir_, Subscription{"folder", "a", "", "", ""}, &err));
  EXPECT_EQ(err.rfind("cannot read folder.csv: ", 0), 0u) << err;
  std::string columns(kMaxColumns, ',');
  EXPECT_FALSE(stream.open(dir_, Subscription{"t", columns, "", "", ""}, &err));
  EXPECT_EQ(err, "table 't': more than 1024 columns requested");
  // A failed open leaves a stream that yields End only.
  EXPECT_EQ(stream.columnCount(), 0);
  EXPECT_EQ(nextDescribed(stream), "end");
  columns.pop_back();
  EXPECT_TRUE(stream.open(dir_, Subscription{"t", columns, "", "", ""}, &err));
  EXPECT_EQ(stream.columnCount(), 1024);
}

TEST_F(TableStreamTest, UnopenedStreamEnds) {
  TableStream stream;
  EXPECT_EQ(stream.columnCount(), 0);
  EXPECT_EQ(nextDescribed(stream), "end");
}

// Many reads of the file's buffer, and one event object reused throughout.
TEST_F(TableStreamTest, LongTableWithReusedEvent) {
  std::string bytes = "@op,@code,id,name\n";
  constexpr int kRows = 20000;
  for (int i = 1; i <= kRows; ++i) {
    bytes += ",," + std::to_string(i) + ",\"name " + std::to_string(i) + "\"\n";
    if (i % 5000 == 0) bytes += "code,33,,\n";
  }
  write("t", bytes);
  TableStream stream;
  std::string err;
  ASSERT_TRUE(stream.open(dir_, Subscription{"t", "name,id", "", "", ""}, &err)) << err;
  TableEvent event;
  std::vector<std::string_view> values;
  int rows = 0;
  int codes = 0;
  for (stream.next(&event, &values); event.kind != EventKind::Synchronized;
       stream.next(&event, &values)) {
    if (event.kind == EventKind::Code) {
      ++codes;
      continue;
    }
    ASSERT_EQ(event.kind, EventKind::AddRow);
    ++rows;
    ASSERT_EQ(event.rowId, rows);
    const std::vector<std::string> expected{"name " + std::to_string(rows), std::to_string(rows)};
    ASSERT_EQ(std::vector<std::string>(values.begin(), values.end()), expected);
  }
  EXPECT_EQ(rows, kRows);
  EXPECT_EQ(codes, 4);
  EXPECT_EQ(nextDescribed(stream), "end");
}

TEST_F(TableStreamTest, ReopenStartsOver) {
  write("t", "v\na\nb\n");
  TableStream stream;
  std::string err;
  ASSERT_TRUE(stream.open(dir_, Subscription{"t", "v", "", "", ""}, &err));
  EXPECT_EQ(nextDescribed(stream), "add 1 a");
  ASSERT_TRUE(stream.open(dir_, Subscription{"t", "v,v", "", "", ""}, &err));
  EXPECT_EQ(nextDescribed(stream), "add 1 a|a");
}

}  // namespace
}  // namespace dataserver
