#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/regular_file.h"

namespace platform {
namespace {

// What Windows ends its descriptions with (". \r\n") never reaches a message,
// whichever category the code is of: a socket error comes as a system error.
TEST(ErrorTextTest, NoTrailingFullStopOrLineEnd) {
  for (const std::error_code& error :
       {std::error_code(2, std::system_category()), std::error_code(5, std::system_category()),
        std::make_error_code(std::errc::connection_refused),
        std::error_code(ENOENT, std::generic_category())}) {
    const std::string text = errorText(error);
    SCOPED_TRACE(error.message());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(std::string(". \r\n").find(text.back()), std::string::npos) << text;
    EXPECT_EQ(error.message().rfind(text, 0), 0u) << "cut from the end only";
  }
}

TEST(ErrorTextTest, ErrnoValuesReadTheSameOnEveryPlatform) {
  EXPECT_EQ(errnoText(ENOENT), "No such file or directory");
  EXPECT_EQ(errnoText(kNotRegularFile), "not a regular file");
}

}  // namespace
}  // namespace platform
