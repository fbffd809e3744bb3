#include "report/report_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "testsupport/temp_dir.h"

namespace {

constexpr size_t kBuffer = ReportFile::kBufferBytes;

std::string translated(const std::string& text) {
  std::string bytes;
  for (char c : text) bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return bytes;
}

// Line feeds at every place around the buffer's end, after text appended or
// put in place through reserve: each becomes CR LF, whichever side of a flush
// the pair would fall on, and nothing else changes.
TEST(ReportFileTest, LineFeedsBecomeCrLfAcrossTheBuffersEnd) {
  const std::string text = "a\n\nb\n";
  for (size_t filled = kBuffer - 6; filled <= kBuffer + 1; ++filled) {
    SCOPED_TRACE(filled);
    ReportFile appended(ReportFile::InMemory{});
    appended.append(std::string(filled, 'x'));
    appended.append(text);
    appended.endLine();
    EXPECT_EQ(appended.text(), std::string(filled, 'x') + translated(text) + "\r\n");

    ReportFile reserved(ReportFile::InMemory{});
    for (size_t left = filled; left > 0;) {
      const size_t part = left < 1000 ? left : 1000;
      char* const room = reserved.reserve(part);
      ASSERT_NE(room, nullptr);
      std::string(part, 'y').copy(room, part);
      reserved.commit(part);
      left -= part;
    }
    reserved.append(text);
    EXPECT_EQ(reserved.text(), std::string(filled, 'y') + translated(text));
  }
  ReportFile large(ReportFile::InMemory{});
  std::string memo;
  while (memo.size() < 3 * kBuffer) memo += "line\n";
  large.append(memo);
  EXPECT_EQ(large.text(), translated(memo));
}

// Room up to the whole buffer; room that was reserved and not committed is
// not part of the text, and bytes put there stand as they are.
TEST(ReportFileTest, ReservedRoomIsAppendedOnlyWhenCommitted) {
  ReportFile file(ReportFile::InMemory{});
  file.append("head;");
  EXPECT_EQ(file.reserve(kBuffer + 1), nullptr);
  char* room = file.reserve(kBuffer);
  ASSERT_NE(room, nullptr);
  room[0] = 'z';
  room = file.reserve(3);
  ASSERT_NE(room, nullptr);
  room[0] = 'a';
  room[1] = '\n';
  file.commit(2);
  file.append("b");
  EXPECT_EQ(file.text(), "head;a\nb");
  file.clear();
  file.append("again\n");
  EXPECT_EQ(file.text(), "again\r\n");
}

// Memory holds more than a buffer: formatted in room reserved piece by piece,
// and written as it stands, after a clear too.
TEST(ReportFileTest, MemoryGrowsToHoldEverything) {
  ReportFile file(ReportFile::InMemory{});
  std::string expected;
  for (int round = 0; round < 2; ++round) {
    file.clear();
    expected.clear();
    for (size_t n = 0; expected.size() < 3 * kBuffer; ++n) {
      const std::string line = std::to_string(n) + ";line\r\n";
      char* const room = file.reserve(line.size());
      ASSERT_NE(room, nullptr);
      line.copy(room, line.size());
      file.commit(line.size());
      expected += line;
    }
    const std::string verbatim(2 * kBuffer + 3, 'v');
    file.appendVerbatim(verbatim);
    file.appendVerbatim("\n");
    EXPECT_EQ(file.text(), expected + verbatim + "\n");
  }
}

// A report file stands at its path only once closed; one that goes
// unclosed, as when its writer fails half way, leaves the earlier report.
TEST(ReportFileTest, AReportFileStandsOnlyOnceClosed) {
  const testsupport::TempDir dir;
  const std::string path = dir / "r.txt";
  dir.write("r.txt", "earlier\r\n");
  {
    ReportFile file(path.c_str());
    ASSERT_TRUE(file.isOpen());
    file.append(std::string(3 * kBuffer, 'x'));
  }
  EXPECT_EQ(dir.read("r.txt"), "earlier\r\n");
  {
    ReportFile file(path.c_str());
    ASSERT_TRUE(file.isOpen());
    file.append("new\n");
    file.appendVerbatim("as it is\n");
    ASSERT_TRUE(file.close());
    EXPECT_EQ(file.error(), 0);
  }
  EXPECT_EQ(dir.read("r.txt"), "new\r\nas it is\n");

  ReportFile missing((dir / "no folder/r.txt").c_str());
  EXPECT_FALSE(missing.isOpen());
  EXPECT_EQ(missing.error(), ENOENT);
}

}  // namespace
