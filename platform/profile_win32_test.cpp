// Our INI reader against the system's own GetPrivateProfileStringA, on
// Windows: the program reads INI files with our reader on every platform,
// and it must read them as Windows does. Where Wine's implementation differs
// from real Windows, the case runs on Windows only.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/profile.h"
#include "testsupport/temp_dir.h"
#include "testsupport/wine.h"

namespace platform {
namespace {

// The example of the system's documented behaviour, and a value past 64 KiB.
std::string exampleFile() {
  return "orphan=1\r\n[Main]\r\n  Name =  Alice\r\nEq=a=b\r\nQ1=\"  x  \"\r\nQ2='y'\r\nQ3=\"z'\r\n"
         "Semi=a ;b\r\n#Hash=1\r\n;Hidden=1\r\nDup=first\r\nDup=second\r\n[ main ]\r\nLate=1\r\n"
         "[Sec]junk\r\nK=v\r\n[Long]\r\nk=" +
         std::string(65537, 'a') + "\r\n[Open\r\nK2=v2\r\n";
}

struct Lookup {
  const char* section;
  const char* key;
  const char* defaultValue;
  uint32_t size;
};

class ProfileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.write("test.ini", exampleFile()); }

  // Both readers' buffer text and return value for one lookup.
  void expectSame(const Lookup& l) {
    std::vector<char> ours(l.size + 1, 'X'), system(l.size + 1, 'X');
    const std::string path = dir_ / "test.ini";
    const uint32_t ourCount =
        getProfileString(l.section, l.key, l.defaultValue, ours.data(), l.size, path.c_str());
    const DWORD systemCount = GetPrivateProfileStringA(l.section, l.key, l.defaultValue,
                                                       system.data(), l.size, path.c_str());
    EXPECT_EQ(ourCount, systemCount) << l.section << "/" << l.key;
    EXPECT_STREQ(ours.data(), system.data()) << l.section << "/" << l.key;
  }

  testsupport::TempDir dir_{"profile-system-test"};
};

TEST_F(ProfileSystemTest, ReadsAsWindowsDoes) {
  for (const Lookup& l : std::vector<Lookup>{{"Main", "name", "d", 64},
                                             {"MAIN", "NAME", "d", 64},
                                             {"Main", "Eq", "d", 64},
                                             {"Main", "Q1", "d", 64},
                                             {"Main", "Q2", "d", 64},
                                             {"Main", "Q3", "d", 64},
                                             {"Main", "Semi", "d", 64},
                                             {"Main", "#Hash", "d", 64},
                                             {"Main", "Dup", "d", 64},
                                             {"main", "Late", "d", 64},
                                             {"Sec", "K", "d", 64},
                                             {"Main", "Name", "d", 4},
                                             {"Main", "nokey", "  dflt  ", 64},
                                             {"Nosection", "Name", "d", 64}}) {
    expectSame(l);
  }
}

TEST_F(ProfileSystemTest, ReadsAsWindowsDoesWhereWineDoesNot) {
  ZUQ_SKIP_UNDER_WINE(
      "Wine's GetPrivateProfileStringA reads comment lines, rejects an unclosed "
      "section header, reaches keys before the first section, strips quotes from "
      "defaults and does not wrap values at 64 KiB");
  for (const Lookup& l : std::vector<Lookup>{{"Main", "Hidden", "d", 64},
                                             {"Main", ";Hidden", "d", 64},
                                             {"Open", "K2", "d", 64},
                                             {"", "orphan", "d", 64},
                                             {"Main", "nokey", "\"q\"", 64},
                                             {"Long", "k", "d", 100000}}) {
    expectSame(l);
  }
}

}  // namespace
}  // namespace platform
