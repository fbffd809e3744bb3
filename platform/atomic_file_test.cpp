#include "platform/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

#include "testsupport/temp_dir.h"

namespace {

std::set<std::string> namesIn(const testsupport::TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Starts a new "r.txt" over the earlier one and writes part of it.
void startNewFile(platform::AtomicFile& file, const testsupport::TempDir& dir) {
  ASSERT_TRUE(file.open((dir / "r.txt").c_str()));
  ASSERT_EQ(namesIn(dir).size(), 2u);  // the earlier file and the temporary one
  ASSERT_TRUE(file.write("half of the new file"));
}

TEST(AtomicFileTest, ACommittedFileStandsWholeInPlaceOfTheEarlierOne) {
  const testsupport::TempDir dir;
  dir.write("r.txt", "earlier");
  platform::AtomicFile file;
  ASSERT_TRUE(file.open((dir / "r.txt").c_str()));
  ASSERT_TRUE(file.write("new\r\n"));
  ASSERT_TRUE(file.write(""));
  ASSERT_TRUE(file.write("file\r\n"));
  EXPECT_EQ(dir.read("r.txt"), "earlier");
  ASSERT_TRUE(file.commit());
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(dir.read("r.txt"), "new\r\nfile\r\n");
  EXPECT_EQ(namesIn(dir), (std::set<std::string>{"r.txt"}));
  EXPECT_FALSE(file.commit());  // nothing open any more
  EXPECT_FALSE(file.write("more"));
}

// However the writer leaves a file it did not commit (a return, an
// exception, a file opened anew), its temporary file goes and the earlier
// file stands as it was; a file that was new leaves nothing.
TEST(AtomicFileTest, AFileNotCommittedLeavesNothingBehind) {
  const testsupport::TempDir dir;
  const std::set<std::string> earlierOnly{"r.txt"};
  dir.write("r.txt", "earlier");

  [&] {
    platform::AtomicFile file;
    startNewFile(file, dir);
  }();
  EXPECT_EQ(namesIn(dir), earlierOnly);

  try {
    platform::AtomicFile file;
    startNewFile(file, dir);
    throw std::runtime_error("the writer fails");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(namesIn(dir), earlierOnly);

  platform::AtomicFile file;
  startNewFile(file, dir);
  file.discard();
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(namesIn(dir), earlierOnly);

  startNewFile(file, dir);
  ASSERT_TRUE(file.open((dir / "other.txt").c_str()));
  EXPECT_EQ(namesIn(dir).size(), 2u);  // the earlier file and the other's temporary one
  EXPECT_EQ(namesIn(dir).count("r.txt"), 1u);
  file.discard();
  EXPECT_EQ(namesIn(dir), earlierOnly);
  EXPECT_EQ(dir.read("r.txt"), "earlier");
}

}  // namespace
