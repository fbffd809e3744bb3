#include "log_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace zuqonl {
namespace {

// formatSimple's result for `format` and the arguments after it, with a
// buffer of `capacity` bytes; "refused" when it leaves the format to vsnprintf.
std::string simple(size_t capacity, const char* format, ...) {
  std::string out(capacity, '?');
  va_list args;
  va_start(args, format);
  const int length = formatSimple(out.data(), capacity, format, args);
  va_end(args);
  if (length < 0) return "refused";
  EXPECT_EQ(out[static_cast<size_t>(length)], '\0');
  return out.substr(0, static_cast<size_t>(length));
}

// The C library's text for the same.
template <typename... Args>
std::string printed(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  EXPECT_GE(length, 0);
  std::string out(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.pop_back();
  return out;
}

#define EXPECT_AS_PRINTED(format, ...) \
  EXPECT_EQ(simple(1024, format, __VA_ARGS__), printed(format, __VA_ARGS__)) << format

TEST(LogFormatTest, TextIsThatOfTheCLibrary) {
  const int ints[] = {0, 1, -1, 9, 10, -10, 99, 100, 123456789, INT_MAX, INT_MIN, INT_MIN + 1};
  for (int value : ints) {
    EXPECT_AS_PRINTED("%d", value);
    EXPECT_AS_PRINTED("%i|", value);
    EXPECT_AS_PRINTED("[ZUQTradeReport] AddRow conn=%d, rowID=%d\n", value, value / -2 + 1);
  }
  const unsigned unsigneds[] = {0u, 1u, 10u, 4294967295u, 2147483648u, 1000000000u};
  for (unsigned value : unsigneds) EXPECT_AS_PRINTED("u=%u%%", value);
  const char* const texts[] = {"", "a", "with %d and %s inside", "\xc3\xa9\xff"};
  for (const char* text : texts) {
    EXPECT_AS_PRINTED("%s", text);
    EXPECT_AS_PRINTED("'%s' %d %s%u", text, -7, text, 7u);
  }
  EXPECT_AS_PRINTED("%%%%d%%%s%%", "x");
  EXPECT_EQ(simple(1024, ""), "");
  EXPECT_EQ(simple(1024, "no conversions\n"), "no conversions\n");
}

// Whatever it does not fully implement goes to vsnprintf, as do texts that
// do not fit and a null %s (whose text the C libraries do not agree on).
TEST(LogFormatTest, RefusesWhatItDoesNotImplement) {
  for (const char* format :
       {"%5d", "%-d", "%+d", "% d", "%0d", "%.3d", "%ld",  "%lld", "%hd", "%zu",
        "%x",  "%c",  "%f",  "%p",  "%n",  "%*d",  "%1$d", "%.2s", "%ls", "x%"}) {
    EXPECT_EQ(simple(1024, format, 1, 2), "refused") << format;
  }
  EXPECT_EQ(simple(1024, "%s", static_cast<const char*>(nullptr)), "refused");
  EXPECT_EQ(simple(1024, "ok %d %y", 1), "refused");
  // The text and its NUL must fit.
  EXPECT_EQ(simple(8, "1234567"), "1234567");
  EXPECT_EQ(simple(8, "12345678"), "refused");
  EXPECT_EQ(simple(8, "%s", "1234567"), "1234567");
  EXPECT_EQ(simple(8, "%s%s", "1234", "5678"), "refused");
  EXPECT_EQ(simple(12, "%d", INT_MIN), "-2147483648");
  EXPECT_EQ(simple(11, "%d", INT_MIN), "refused");
  EXPECT_EQ(simple(8, "abcdefg%%"), "refused");
  EXPECT_EQ(simple(0, ""), "refused");
  const std::string longText(2000, 'x');
  EXPECT_EQ(simple(1024, "%s", longText.c_str()), "refused");
}

}  // namespace
}  // namespace zuqonl
