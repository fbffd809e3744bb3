#include "platform/append_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "testsupport/temp_dir.h"

namespace {

// A text the file cannot take whole is not left in it in part: the file
// ends with the last whole text, and the failure names the reason. A text
// that fits to the byte is written.
TEST(AppendFileTest, ATextThatDoesNotFitIsTakenBackWhole) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit, and a full disk cannot be made for a test";
#else
  const testsupport::TempDir dir;
  int error = 0;
  const platform::AppendFileHandle file = platform::openAppendFile((dir / "a.log").c_str(), &error);
  ASSERT_NE(file, platform::kNoAppendFile) << error;
  ASSERT_TRUE(platform::appendWhole(file, "first line\n", &error));
  rlimit unlimited;
  getrlimit(RLIMIT_FSIZE, &unlimited);
  rlimit limited = unlimited;
  limited.rlim_cur = 16;
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limited);
  const bool cut = platform::appendWhole(file, "second line\n", &error);
  const int cutError = error;
  const bool fitting = platform::appendWhole(file, "four\n", &error);
  const bool beyond = platform::appendWhole(file, "x\n", &error);
  setrlimit(RLIMIT_FSIZE, &unlimited);
  signal(SIGXFSZ, previous);
  platform::closeAppendFile(file);
  EXPECT_FALSE(cut);
  EXPECT_EQ(cutError, EFBIG);
  EXPECT_TRUE(fitting);
  EXPECT_FALSE(beyond);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(dir.read("a.log"), "first line\nfour\n");
#endif
}

}  // namespace
