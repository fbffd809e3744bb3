#include "dataserver/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace dataserver {
namespace {

using namespace std::string_literals;

TEST(LogTextTest, PeerTextCannotBreakALine) {
  EXPECT_EQ(quotedForLog("Trade"), "'Trade'");
  EXPECT_EQ(quotedForLog("a\nb'c\\d\x7f\xff\0"s), "'a\\x0ab\\x27c\\x5cd\\x7f\\xff\\x00'");
  EXPECT_EQ(escapedForLog("unknown table 'x\r'"), "unknown table 'x\\x0d'");
  EXPECT_EQ(quotedForLog(std::string(201, 'a')), "'" + std::string(200, 'a') + "...'");
  EXPECT_EQ(quotedForLog(std::string(200, 'a')), "'" + std::string(200, 'a') + "'");
  std::string tabs;
  for (int i = 0; i < 200; ++i) tabs += "\\x09";
  EXPECT_EQ(escapedForLog(std::string(201, '\t')), tabs + "...") << "cut by the bytes given";
}

TEST(LogTextTest, FileTextKeepsItsLettersAndLosesItsControls) {
  EXPECT_EQ(controlsMasked("caf\xc3\xa9\t\r\n\x1f\x7f\0!"s),
            "caf\xc3\xa9" + std::string(6, '?') + "!");
  EXPECT_EQ(controlsMasked("a\\'b"), "a\\'b");
  EXPECT_EQ(controlsMasked(std::string(65, 'a')), std::string(64, 'a') + "...");
  EXPECT_EQ(controlsMasked(std::string(64, 'a')), std::string(64, 'a'));
}

}  // namespace
}  // namespace dataserver
