#include "zuqds/log.h"

#include <gtest/gtest.h>

#include <string>

namespace zuqds {
namespace {

using namespace std::string_literals;

TEST(LogTest, PeerTextCannotBreakALine) {
  EXPECT_EQ(inQuotes("Trade"), "'Trade'");
  EXPECT_EQ(inQuotes("a\nb'c\\d\x7f\xff\0"s), "'a\\x0ab\\x27c\\x5cd\\x7f\\xff\\x00'");
  EXPECT_EQ(printable("unknown table 'x\r'"), "unknown table 'x\\x0d'");
  EXPECT_EQ(inQuotes(std::string(201, 'a')), "'" + std::string(200, 'a') + "...'");
  EXPECT_EQ(inQuotes(std::string(200, 'a')), "'" + std::string(200, 'a') + "'");
}

}  // namespace
}  // namespace zuqds
