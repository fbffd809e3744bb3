#include "report/trade_line.h"

#include <gtest/gtest.h>

#include "intake/firm_side.h"
#include "intake/kept_trade.h"
#include "testsupport/temp_dir.h"

namespace {

// The trade used throughout: F1 initiated it, F2 confirmed it.
TradeRecord sampleTrade() {
  TradeRecord r;
  r.issue_name = "XYZ1";
  r.init_name = "F1";
  r.init_action = "B";
  r.init_pair = "C001";
  r.init_memo = "hello";
  r.conf_name = "F2";
  r.conf_action = "S";
  r.conf_pair = "C777";
  r.conf_memo = "bye";
  r.status = 2;
  r.price = "101.5";
  r.qty = "10";
  r.volume = "1015";
  r.price_currency = "PPP";
  r.payment_currency = "XXX";
  r.delivery_date = DateTimeValue{2003, 12, 3, 17, 0, 0, 0, 0};
  r.rowID = 42;
  r.trade_moment = DateTimeValue{2003, 12, 1, 15, 10, 30, 15, 0};
  r.dcc = "D1";
  r.clear = "CL";
  r.type = "T";
  r.type_ext = "R1";
  r.trade_ref = "77";
  r.repo_action = "1";
  r.repurchase = "1";
  return r;
}

class TradeLineTest : public ::testing::Test {
 protected:
  // The line as the report writes it of the trade kept for the firm.
  std::string line(const TradeRecord& record, const std::string& firm,
                   std::string_view delimiter = ";", int32_t dateFormat = 0) {
    std::string joined;
    const KeptTrade kept = keepTrade(record, firmSide(record, firm), &joined);
    ReportFile file(ReportFile::InMemory{});
    writeTradeLine(file, kept, delimiter, dateFormat);
    return std::string(file.text());
  }
};

TEST_F(TradeLineTest, FirmAsInitiatorConfirmerOrNone) {
  EXPECT_EQ(line(sampleTrade(), "F1"),
            "XYZ1;BT;COM;C001;F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R1;77;"
            "BS;1;hello\r\n");
  EXPECT_EQ(line(sampleTrade(), "F2"),
            "XYZ1;ST;COM;C777;F1;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R1;77;"
            "LS;1;bye\r\n");
  EXPECT_EQ(line(sampleTrade(), ""),
            "XYZ1;BT;COM;C001-C777;F1-F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;"
            "D1;R1;77;LS;1;\r\n");
}

TEST_F(TradeLineTest, FirmOnBothSidesJoinsTextsAndKeepsInitiatorMemo) {
  TradeRecord r = sampleTrade();
  r.conf_name = "F1";
  r.init_pair = {};
  r.conf_pair = {};
  EXPECT_EQ(line(r, "F1"),
            "XYZ1;BT;COM;-;F1-F1;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R1;77;"
            "LS;1;hello\r\n");
}

TEST_F(TradeLineTest, FirmMatchingIsExactAndCaseSensitive) {
  EXPECT_TRUE(firmMatches("F1", "F1"));
  EXPECT_FALSE(firmMatches("f1", "F1"));
  EXPECT_FALSE(firmMatches("F1 ", "F1"));
  EXPECT_FALSE(firmMatches("F10", "F1"));
  EXPECT_FALSE(firmMatches("", "F1"));
  EXPECT_FALSE(firmMatches("", ""));
  // The code in another case, which the filter does not keep, is told apart.
  EXPECT_TRUE(firmMatchesInOtherCase("f1", "F1"));
  EXPECT_TRUE(firmMatchesInOtherCase("rIvErSeC-2", "RiverSec-2"));
  EXPECT_FALSE(firmMatchesInOtherCase("F1", "F1"));
  EXPECT_FALSE(firmMatchesInOtherCase("f1 ", "F1"));
  EXPECT_FALSE(firmMatchesInOtherCase("f", "F1"));
  EXPECT_FALSE(firmMatchesInOtherCase("", ""));
  EXPECT_FALSE(firmMatchesInOtherCase("[1", "{1"));            // not letters
  EXPECT_FALSE(firmMatchesInOtherCase("CAF\xC9", "caf\xE9"));  // ASCII letters only
  EXPECT_EQ(firmSide(sampleTrade(), ""), FirmSide::None);
  EXPECT_EQ(firmSide(sampleTrade(), "F1"), FirmSide::Initiator);
  EXPECT_EQ(firmSide(sampleTrade(), "F2"), FirmSide::Confirmer);
}

TEST_F(TradeLineTest, StatusMnemonics) {
  const std::pair<int32_t, const char*> known[] = {
      {1, "NEW"},  {2, "COM"},  {3, "VXI"},  {4, "VXC"},  {5, "CXL"},  {11, "DEL"},
      {12, "ONE"}, {14, "NEI"}, {18, "COB"}, {19, "BAC"}, {21, "BAA"}, {22, "BAX"},
      {23, "BAY"}, {24, "NEO"}, {25, "EOM"}, {26, "EOA"}};
  for (const auto& [status, mnemonic] : known) EXPECT_STREQ(statusMnemonic(status), mnemonic);
  for (int32_t status : {0, -1, 6, 13, 27, 1000}) EXPECT_STREQ(statusMnemonic(status), "???");
}

TEST_F(TradeLineTest, RepoActionCodesBySide) {
  TradeRecord r = sampleTrade();
  const char* const rows[][3] = {{"1", "BS", "LS"}, {"2", "LS", "BS"}, {"3", "RS", "AS"},
                                 {"5", "BM", "LM"}, {"6", "LM", "BM"}, {"7", "RM", "AM"},
                                 {"4", "??", "??"}, {"8", "??", "??"}, {"A", "??", "??"},
                                 {"", "??", "??"},  {"12", "BS", "LS"}};
  for (const auto& row : rows) {
    r.repo_action = row[0];
    EXPECT_EQ(repoActCode(r, FirmSide::Initiator), row[1]) << row[0];
    EXPECT_EQ(repoActCode(r, FirmSide::Confirmer), row[2]) << row[0];
    EXPECT_EQ(repoActCode(r, FirmSide::Both), row[2]) << row[0];
    EXPECT_EQ(repoActCode(r, FirmSide::None), row[2]) << row[0];
  }
  for (const char* typeExt : {"r1", "", "X", "1R"}) {
    r.type_ext = typeExt;
    r.repo_action = "1";
    EXPECT_EQ(repoActCode(r, FirmSide::Initiator), "") << typeExt;
  }
}

TEST_F(TradeLineTest, DatesTransAndWidths) {
  TradeRecord r;
  EXPECT_EQ(line(r, ""), ";;???;-;-;;;;;00000000;000000000;00000000;00:00:00;;;;;;\r\n");
  EXPECT_EQ(line(r, "", ";", 2),
            ";;???;-;-;;;;;00/00/0000;000000000;00/00/0000;00:00:00;;;;;;\r\n");
  r.rowID = 1234567890;
  r.trade_moment = DateTimeValue{12345, 7, 0, 4, 9, 5, 0, 999};
  EXPECT_EQ(line(r, ""), ";;???;-;-;;;;;00000000;1234567890;123450704;09:05:00;;;;;;\r\n");
  r.rowID = -42;
  EXPECT_NE(line(r, "").find(";-00000042;"), std::string::npos);
}

TEST_F(TradeLineTest, DelimitersAndLineFeedsInTexts) {
  TradeRecord r = sampleTrade();
  r.init_memo = "two\nlines";
  r.price = "1\n2";
  const std::string text = line(r, "F1", " | ");
  EXPECT_EQ(text,
            "XYZ1 | BT | COM | C001 | F2 | 1\r\n2 | 10 | 1015 | XXX | 20031217 | 000000042 | "
            "20031215 | 10:30:15 | D1 | R1 | 77 | BS | 1 | two\r\nlines\r\n");
  EXPECT_EQ(line(sampleTrade(), "F2", ""),
            "XYZ1STCOMC777F1101.5101015XXX200312170000000422003121510:30:15D1R177LS1bye\r\n");
}

// What a reader of the report would split: the first text, in column order,
// that holds the delimiter or a line feed, as the kept trade's texts are
// (the joined Customer and Contra included).
TEST_F(TradeLineTest, StraySeparatorsInTexts) {
  auto find = [](const TradeRecord& record, const std::string& firm, std::string_view delimiter) {
    std::string joined;
    return findStraySeparator(keepTrade(record, firmSide(record, firm), &joined), delimiter);
  };
  EXPECT_FALSE(find(sampleTrade(), "F1", ";"));
  EXPECT_FALSE(find(sampleTrade(), "F1", ""));
  TradeRecord r = sampleTrade();
  r.init_memo = "a;b";
  r.trade_ref = "7\n7";
  StraySeparator found = find(r, "F1", ";");
  EXPECT_EQ(found.text, kTradeRefText);
  EXPECT_TRUE(found.lineFeed);
  r.trade_ref = "77";
  found = find(r, "F1", ";");
  EXPECT_EQ(found.text, kMemoText);
  EXPECT_FALSE(found.lineFeed);
  EXPECT_FALSE(find(r, "F2", ";"));  // the confirmer's memo is written
  EXPECT_FALSE(find(r, "F1", ""));   // an empty delimiter splits nothing
  EXPECT_FALSE(find(r, "F1", "; "));
  r.init_memo = "a; b";
  EXPECT_EQ(find(r, "F1", "; ").text, kMemoText);
  // The joined pair of no single side's trade holds the hyphen.
  EXPECT_EQ(find(sampleTrade(), "", "-").text, kCustomerText);
  EXPECT_EQ(find(sampleTrade(), "F1", "5").text, kPriceText);
  // Every length, the byte at every place, between bytes of every other value.
  for (size_t length = 1; length <= 20; ++length) {
    for (int filler = 1; filler < 256; ++filler) {
      if (filler == ';' || filler == '\n') continue;
      KeptTrade kept;
      std::string text(length, static_cast<char>(filler));
      kept.texts[kTradeRefText] = text;
      ASSERT_FALSE(findStraySeparator(kept, ";")) << length << " " << filler;
      for (size_t at = 0; at < length; ++at) {
        for (char separator : {';', '\n'}) {
          text.assign(length, static_cast<char>(filler));
          text[at] = separator;
          kept.texts[kTradeRefText] = text;
          found = findStraySeparator(kept, ";");
          ASSERT_EQ(found.text, kTradeRefText) << length << " " << filler << " " << at;
          ASSERT_EQ(found.lineFeed, separator == '\n');
        }
      }
    }
  }
  // Counted in order, with the first line's rowID.
  StraySeparators earlier;
  StraySeparators later;
  std::string joined;
  r.rowID = 5;
  later.count(keepTrade(r, FirmSide::Initiator, &joined), " ");
  r.rowID = 6;
  later.count(keepTrade(r, FirmSide::Initiator, &joined), " ");
  earlier.append(later);
  EXPECT_EQ(earlier.trades, 2u);
  EXPECT_EQ(earlier.firstRowID, 5);
  r.rowID = 1;
  StraySeparators first;
  first.count(keepTrade(r, FirmSide::Initiator, &joined), " ");
  first.append(earlier);
  EXPECT_EQ(first.trades, 3u);
  EXPECT_EQ(first.firstRowID, 1);
}

// The line written with its look for stray separators: the same bytes as
// writeTradeLine, the same count as StraySeparators::count, whatever the
// delimiter (one a fixed column writes too, several bytes, none) and
// wherever in the line a text's separator falls.
TEST_F(TradeLineTest, CountedLinesMatchTheirTextsLook) {
  TradeRecord r = sampleTrade();
  std::string joined;
  for (const char* delimiter : {";", "", "5", "0", "-", ":", "C", "?", "; ", "\n"}) {
    for (size_t length = 0; length <= 40; ++length) {
      for (size_t at = 0; at <= length; ++at) {
        for (char separator : {'\n', delimiter[0], 'x'}) {
          std::string memo(length, 'm');
          if (at < length && separator != '\0') memo[at] = separator;
          r.init_memo = memo;
          const KeptTrade kept = keepTrade(r, FirmSide::Initiator, &joined);
          ReportFile plain(ReportFile::InMemory{});
          ReportFile counted(ReportFile::InMemory{});
          StraySeparators expected;
          StraySeparators found;
          writeTradeLine(plain, kept, delimiter, 0);
          expected.count(kept, delimiter);
          writeCountedTradeLine(counted, kept, delimiter, 0, &found);
          ASSERT_EQ(counted.text(), plain.text()) << delimiter << " " << length << " " << at;
          ASSERT_EQ(found.trades, expected.trades) << delimiter << " " << length << " " << at;
          ASSERT_EQ(found.first.text, expected.first.text);
          ASSERT_EQ(found.first.lineFeed, expected.first.lineFeed);
        }
      }
    }
  }
}

// Lines written to a file: a line larger than the write buffer, with line
// feeds, between ordinary ones, and enough ordinary ones that lines straddle
// the buffer's end.
TEST_F(TradeLineTest, LinesOfAnyLengthReachTheFileWhole) {
  const testsupport::TempDir dir;
  const std::string path = dir / "report.txt";
  std::string memo;
  while (memo.size() < 3 * ReportFile::kBufferBytes) memo += "part\n";
  TradeRecord large = sampleTrade();
  large.init_memo = memo;
  const TradeRecord ordinary = sampleTrade();
  ReportFile file(path.c_str());
  ASSERT_TRUE(file.isOpen());
  std::string ordinaryJoined;
  std::string largeJoined;
  const KeptTrade ordinaryKept = keepTrade(ordinary, FirmSide::Initiator, &ordinaryJoined);
  const KeptTrade largeKept = keepTrade(large, FirmSide::Initiator, &largeJoined);
  for (int i = 0; i < 1000; ++i) writeTradeLine(file, ordinaryKept, " | ", 1);
  writeTradeLine(file, largeKept, " | ", 1);
  for (int i = 0; i < 1000; ++i) writeTradeLine(file, ordinaryKept, " | ", 1);
  ASSERT_TRUE(file.close());

  const std::string one = line(ordinary, "F1", " | ", 1);
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += one;
  std::string translated;
  for (char c : memo) translated += c == '\n' ? "\r\n" : std::string(1, c);
  expected += one.substr(0, one.size() - std::string("hello\r\n").size()) + translated + "\r\n";
  for (int i = 0; i < 1000; ++i) expected += one;
  EXPECT_EQ(dir.read("report.txt"), expected);
}

}  // namespace
