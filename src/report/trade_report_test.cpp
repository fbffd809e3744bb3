#include "report/trade_report.h"

#include <gtest/gtest.h>

#include <string>

#include "report/trade_line.h"
#include "testsupport/temp_dir.h"

namespace {

// A report of many batches of lines, formatted partly on a second thread,
// holds every line once and in order, whatever the count of lines left over.
TEST(TradeReportTest, LinesOfEveryBatchInOrder) {
  for (uint32_t count : {0u, 1u, 4096u, 8192u, 8193u, 12345u, 20480u}) {
    const testsupport::TempDir dir;
    dir.write("report.ini", "[options]\r\nreport_file=" + (dir / "report.txt") + "\r\n");
    TradeStore store;
    ReportFile expected(ReportFile::InMemory{});
    for (uint32_t key = 0; key < count; ++key) {
      const std::string memo = "memo " + std::to_string(key);
      TradeRecord record;
      record.rowID = static_cast<int32_t>(key);
      record.init_memo = memo;
      store.add(key, record, FirmSide::Initiator);
      std::string joined;
      writeTradeLine(expected, keepTrade(record, FirmSide::Initiator, &joined), ";", 0);
    }
    ASSERT_TRUE(writeTradeReport((dir / "report.ini").c_str(), store)) << count;
    EXPECT_EQ(dir.read("report.txt"), expected.text()) << count;
  }
}

}  // namespace
