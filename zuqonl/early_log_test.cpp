// Lines a program logs before it names its INI file (its banner) reach the
// log file once the file is known. Needs a process in which nothing was
// logged yet, hence its own test program.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/temp_dir.h"
#include "zuqonl.h"

namespace zuqonl {
namespace {

TEST(EarlyLog, LinesBeforeTheIniPathReachTheLogFile) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir / "logs/run.log", "older run\n");
  testsupport::writeFile(dir / "test.ini", "[zuqonl]\nlog_file=logs/run.log\n");
  zuqonlPrintf("banner %s\n", "v1");
  zuqonlPrintf("second line\n");
  zuqonlSetIniPath((dir / "test.ini").c_str());
  zuqonlPrintf("after %d\n", 3);
  zuqonlClose();
  EXPECT_EQ(testsupport::readFile(dir / "logs/run.log"),
            "older run\nbanner v1\nsecond line\nafter 3\n");
}

}  // namespace
}  // namespace zuqonl
