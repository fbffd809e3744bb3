// A program started with a standard stream closed: the number of that stream
// must not go to a file the run opens, where console output would land.
#include "platform/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testsupport/temp_dir.h"

namespace {

TEST(StandardStreamsTest, AClosedStreamIsNotTakenByTheNextFile) {
  testsupport::TempDir dir;
  const std::string path = dir / "file";
  const int savedError = dup(2);
  ASSERT_GE(savedError, 3);
  close(2);
  platform::reserveStandardStreams();
  const bool reserved = fcntl(2, F_GETFD) != -1;
  const int opened = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  // Standard error back before any expectation can report on it.
  dup2(savedError, 2);
  close(savedError);
  EXPECT_TRUE(reserved);
  EXPECT_NE(opened, 2);
  if (opened != -1) close(opened);
}

TEST(StandardStreamsTest, OpenStreamsAreLeftAsTheyAre) {
  struct stat before {};
  ASSERT_EQ(fstat(1, &before), 0);
  platform::reserveStandardStreams();
  struct stat after {};
  ASSERT_EQ(fstat(1, &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_dev, after.st_dev);
}

}  // namespace
