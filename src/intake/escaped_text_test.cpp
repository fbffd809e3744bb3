#include "intake/escaped_text.h"

#include <gtest/gtest.h>

namespace {

TEST(EscapeControlBytesTest, OnlyControlBytesAreEscaped) {
  EXPECT_EQ(escapeControlBytes(nullptr), "");
  EXPECT_EQ(escapeControlBytes("feed lagging: 100% %s caf\xE9 \xFF ~\\n"),
            "feed lagging: 100% %s caf\xE9 \xFF ~\\n");
  EXPECT_EQ(escapeControlBytes("a\nb\rc\td\x1B[31m\x7F\x01\x1F"),
            "a\\nb\\rc\\td\\x1B[31m\\x7F\\x01\\x1F");
}

}  // namespace
