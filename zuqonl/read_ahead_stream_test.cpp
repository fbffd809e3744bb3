#include "read_ahead_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace zuqonl {
namespace {

using dataserver::EventKind;
using dataserver::Subscription;
using dataserver::TableEvent;
using testsupport::TempDir;
using testsupport::writeFile;

std::string describe(const TableEvent& event) {
  std::string text = std::to_string(static_cast<int>(event.kind)) + " " +
                     std::to_string(event.rowId) + " " + std::to_string(event.number) + " " +
                     event.text;
  for (const std::string& value : event.values) text += "|" + value;
  return text;
}

// Every event up to and including End, then one more next() for the End that
// repeats.
template <typename Stream>
std::vector<std::string> drain(Stream& stream) {
  std::vector<std::string> events;
  TableEvent event;
  do {
    stream.next(&event);
    events.push_back(describe(event));
  } while (event.kind != EventKind::End);
  stream.next(&event);
  events.push_back(describe(event));
  return events;
}

// A table of more rows than a batch holds, with control lines among them,
// ending in a malformed line.
std::string scriptedTable() {
  std::string table = "@op,@text,@ms,k,v\n";
  for (int n = 0; n < 700; ++n) {
    table += ",,," + std::to_string(n) + ",value " + std::to_string(n) + "\n";
    if (n == 255) table += "pause,,0,,\n";
    if (n == 300) table += "sync,,,,\n";
    if (n == 301) table += "error,oops,,,\n";
  }
  return table + "update,,,a,b\ndelete,,,c,d\nclear,,,,\nbad\n";
}

TEST(ReadAheadStreamTest, YieldsTheEventsOfTheTableInOrder) {
  TempDir dir;
  writeFile(dir / "T.csv", scriptedTable());
  const Subscription sub{"T", "v,k", "", "", ""};
  std::string err;
  dataserver::TableStream plain;
  ASSERT_TRUE(plain.open(dir.path().string(), sub, &err)) << err;
  ReadAheadStream ahead;
  ASSERT_TRUE(ahead.open(dir.path().string(), sub, &err)) << err;
  EXPECT_EQ(ahead.columnCount(), 2);
  const std::vector<std::string> expected = drain(plain);
  EXPECT_EQ(expected.size(), 709u);  // every line, End, and End again
  EXPECT_EQ(drain(ahead), expected);
}

TEST(ReadAheadStreamTest, UnknownTableAndEarlyDestruction) {
  TempDir dir;
  std::string err;
  ReadAheadStream missing;
  EXPECT_FALSE(missing.open(dir.path().string(), Subscription{"Nope", "v", "", "", ""}, &err));
  EXPECT_EQ(err, "unknown table 'Nope'");
  TableEvent event;
  missing.next(&event);
  EXPECT_EQ(event.kind, EventKind::End);

  writeFile(dir / "T.csv", scriptedTable());
  ReadAheadStream ahead;  // destroyed while its thread waits to hand over more
  ASSERT_TRUE(ahead.open(dir.path().string(), Subscription{"T", "v", "", "", ""}, &err));
  ahead.next(&event);
  EXPECT_EQ(event.values, std::vector<std::string>{"value 0"});
}

}  // namespace
}  // namespace zuqonl
