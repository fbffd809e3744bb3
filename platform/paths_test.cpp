#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/regular_file.h"
#include "testsupport/temp_dir.h"

namespace platform {
namespace {

struct Case {
  const char* file;
  const char* path;
  std::string expected;
};

// The current folder, as the test sees it: ASCII under the test runner.
std::string current() { return std::filesystem::current_path().string(); }

TEST(PathsTest, PathBesideFileIsAbsoluteAndNormal) {
#ifdef _WIN32
  const Case cases[] = {
      {"C:\\a\\x.ini", "data", "C:\\a\\data"},
      {"C:/a/b/x.ini", "../c/./d/e", "C:\\a\\c\\d\\e"},
      {"C:\\a\\x.ini", "d\\", "C:\\a\\d\\"},
      {"C:\\a\\x.ini", "\\top\\log.txt", "C:\\top\\log.txt"},
      {"C:\\a\\x.ini", "E:/z", "E:\\z"},
      {"C:\\a\\x.ini", "", ""},
      {"x.ini", "data", current() + "\\data"},
      {"sub\\x.ini", "..\\d", current() + "\\d"},
  };
#else
  const Case cases[] = {
      {"/etc/x.ini", "data", "/etc/data"},
      {"/a/b/x.ini", "../c/./d//e", "/a/c/d/e"},
      {"/a/b/x.ini", "d/", "/a/b/d/"},
      {"/a/b/x.ini", "c/..", "/a/b/"},
      {"/a/x.ini", "/abs/../y", "/y"},
      {"/x.ini", "../../..", "/"},
      {"/a/x.ini", "", ""},
      {"x.ini", "data", current() + "/data"},
      {"sub/x.ini", "../d", current() + "/d"},
      // Bytes beyond ASCII (Windows-1252 letters) and blanks pass untouched.
      {"/Jos\xE9 M\xFCller/x.ini", "Gr\xFC\xDF Gott", "/Jos\xE9 M\xFCller/Gr\xFC\xDF Gott"},
  };
#endif
  for (const Case& c : cases) {
    EXPECT_EQ(pathBesideFile(c.file, c.path), c.expected) << c.file << " + " << c.path;
  }
}

TEST(PathsTest, FolderReadErrorTellsWhatIsThere) {
  const testsupport::TempDir dir("zuq-paths");
  dir.write("file.txt", "x");
  EXPECT_EQ(folderReadError(dir.dir()), 0);
  EXPECT_EQ(folderReadError(dir.dir() + "/"), 0);
  EXPECT_EQ(folderReadError(dir / "missing"), ENOENT);
  EXPECT_EQ(folderReadError(dir / "missing/deeper"), ENOENT);
  EXPECT_EQ(folderReadError(dir / "file.txt"), ENOTDIR);
}

TEST(RegularFileTest, SizeOfAnOpenedFile) {
  const testsupport::TempDir dir("zuq-paths");
  dir.write("five.txt", "12345");
  int error = 0;
  std::FILE* file = openRegularFile((dir / "five.txt").c_str(), &error);
  ASSERT_NE(file, nullptr) << error;
  uint64_t size = 0;
  EXPECT_TRUE(regularFileSize(file, &size));
  EXPECT_EQ(size, 5u);
  std::fclose(file);
}

}  // namespace
}  // namespace platform
