#include "platform/profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "testsupport/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// The reference file the lookup tables below read; written with CR LF line ends.
constexpr std::string_view kExample = R"(orphan=1
[Main]
  Name =  Alice
Empty=
Eq=a=b
Q1="  x  "
Q2='y'
Q3="z'
Semi=a ;b
#Hash=1
;Hidden=1
NoEquals
Dup=first
Dup=second
[ main ]
Late=1
[Sec]junk
K=v
[Open
K2=v2
)";

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_ / "test.ini"; }

  void writeFile(const std::string& content) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << content;
  }
  void writeExample() {
    std::string content;
    for (char c : kExample) content += c == '\n' ? std::string("\r\n") : std::string(1, c);
    writeFile(content);
  }

  // The buffer text and the return value of one string lookup in path_.
  std::pair<std::string, uint32_t> read(const char* section, const char* key,
                                        const char* defaultValue = "d", uint32_t size = 64) {
    std::vector<char> buffer(size + 1, 'X');
    const uint32_t got =
        getProfileString(section, key, defaultValue, buffer.data(), size, path_.c_str());
    return {std::string(buffer.data(), strnlen(buffer.data(), size)), got};
  }

  testsupport::TempDir dir_{"profile-test"};
  std::string path_;
};

using Result = std::pair<std::string, uint32_t>;

TEST_F(ProfileTest, ExampleFileLookups) {
  writeExample();
  struct Case {
    const char* section;
    const char* key;
    Result expected;
  };
  const Case cases[] = {
      {"Main", "name", {"Alice", 5}}, {"MAIN", "NAME", {"Alice", 5}},
      {"Main", "Empty", {"", 0}},     {"Main", "Eq", {"a=b", 3}},
      {"Main", "Q1", {"  x  ", 5}},   {"Main", "Q2", {"y", 1}},
      {"Main", "Q3", {"\"z'", 3}},    {"Main", "Semi", {"a ;b", 4}},
      {"Main", "#Hash", {"1", 1}},    {"Main", "Hidden", {"d", 1}},
      {"Main", ";Hidden", {"d", 1}},  {"Main", "NoEquals", {"d", 1}},
      {"Main", "Dup", {"first", 5}},  {"main", "Late", {"d", 1}},
      {"Sec", "K", {"v", 1}},         {"Open", "K2", {"v2", 2}},
      {"", "orphan", {"d", 1}},       {" Main ", "  Name  ", {"Alice", 5}},
      {"\tMain", "Name", {"d", 1}},   {"Main", "Name\t", {"d", 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read(c.section, c.key), c.expected) << c.section << "/" << c.key;
  }
}

TEST_F(ProfileTest, BufferSizes) {
  writeExample();
  EXPECT_EQ(read("Main", "Name", "d", 4), Result("Ali", 3));
  EXPECT_EQ(read("Main", "Name", "d", 6), Result("Alice", 5));
  EXPECT_EQ(read("Main", "Name", "d", 1), Result("", 0));
  EXPECT_EQ(read("Main", "nokey", "default", 4), Result("def", 3));

  char untouched[4] = {'X', 'X', 'X', 'X'};
  EXPECT_EQ(getProfileString("Main", "Name", "d", untouched, 0, path_.c_str()), 0u);
  EXPECT_EQ(std::string(untouched, 4), "XXXX");
}

TEST_F(ProfileTest, DefaultLosesOnlyTrailingSpaces) {
  writeExample();
  EXPECT_EQ(read("Main", "nokey", "  dflt  "), Result("  dflt", 6));
  EXPECT_EQ(read("Main", "nokey", "dflt\t "), Result("dflt\t", 5));
  EXPECT_EQ(read("Main", "nokey", "\"q\""), Result("\"q\"", 3));
  EXPECT_EQ(read("Main", "nokey", nullptr), Result("", 0));
  EXPECT_EQ(read("Nosection", "Name", "d"), Result("d", 1));
}

TEST_F(ProfileTest, MissingOrUnreadableFileGivesDefault) {
  EXPECT_EQ(read("Main", "Name"), Result("d", 1));
  path_ = dir_.dir();  // a directory opens on POSIX but cannot be read
  EXPECT_EQ(read("Main", "Name"), Result("d", 1));
  path_ = (dir_.path() / "nofolder" / "x.ini").string();
  EXPECT_EQ(read("Main", "Name"), Result("d", 1));
}

#ifndef _WIN32
// Our layer reads regular files of at most kMaxProfileBytes: a larger one, a
// device without end and a FIFO without a writer read as missing, at once.
TEST_F(ProfileTest, EndlessOrOversizedFileGivesDefault) {
  const std::string head = "[Main]\nName=Alice\n";
  writeFile(head + std::string(kMaxProfileBytes - head.size(), ';'));
  EXPECT_EQ(read("Main", "Name"), Result("Alice", 5));
  writeFile(head + std::string(kMaxProfileBytes - head.size() + 1, ';'));
  EXPECT_EQ(read("Main", "Name"), Result("d", 1));
  EXPECT_EQ(getProfileInt("Main", "Name", 7, path_.c_str()), 7u);
  path_ = "/dev/zero";
  EXPECT_EQ(read("Main", "Name"), Result("d", 1));
  path_ = dir_ / "fifo.ini";
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  EXPECT_EQ(read("Main", "Name"), Result("d", 1));
}
#endif

TEST_F(ProfileTest, EveryCallSeesTheCurrentFile) {
  writeFile("[S]\nk=old\n");
  EXPECT_EQ(read("S", "k"), Result("old", 3));
  writeFile("[S]\nk=newer\n");
  EXPECT_EQ(read("S", "k"), Result("newer", 5));
  fs::remove(path_);
  EXPECT_EQ(read("S", "k"), Result("d", 1));
}

TEST_F(ProfileTest, LineEndsAndBlanks) {
  writeFile("[A]\rk=cr\r[B]\nk=lf\n[C]\r\nk=crlf\r\n[D]\n\r\t\v k \v=\t v w \v\n[E]");
  EXPECT_EQ(read("A", "k"), Result("cr", 2));
  EXPECT_EQ(read("B", "k"), Result("lf", 2));
  EXPECT_EQ(read("C", "k"), Result("crlf", 4));
  EXPECT_EQ(read("D", "k"), Result("v w", 3));
}

TEST_F(ProfileTest, SectionHeaders) {
  writeFile("k=0\n[]\nk=empty\n[ A[B ] tail]\nk=bracket\n[  Open  \nk=open\n");
  EXPECT_EQ(read("", "k"), Result("empty", 5));
  EXPECT_EQ(read("A[B", "k"), Result("bracket", 7));
  EXPECT_EQ(read("Open", "k"), Result("open", 4));
}

TEST_F(ProfileTest, QuotePairs) {
  writeFile("[Q]\nlone=\"\nboth=''\nmixed='\"x'\"\ninner=\"a\"b\"\nspaced= ' y ' \n");
  EXPECT_EQ(read("Q", "lone"), Result("\"", 1));
  EXPECT_EQ(read("Q", "both"), Result("", 0));
  EXPECT_EQ(read("Q", "mixed"), Result("'\"x'\"", 5));
  EXPECT_EQ(read("Q", "inner"), Result("a\"b", 3));
  EXPECT_EQ(read("Q", "spaced"), Result(" y ", 3));
}

// A BOM at the start no longer hides the first section; elsewhere it is text.
TEST_F(ProfileTest, Utf8BomAtStartIsSkipped) {
  writeFile("\xEF\xBB\xBF[A]\r\nk=1\r\n[B]\r\nk=2\r\n");
  EXPECT_EQ(read("A", "k"), Result("1", 1));
  EXPECT_EQ(read("B", "k"), Result("2", 1));
  writeFile("[A]\n\xEF\xBB\xBF[B]\nk=1\n");
  EXPECT_EQ(read("B", "k"), Result("d", 1));
}

// A UTF-16 file reads as missing, even where its letters would spell a match
// once the zero bytes are dropped; UTF-8 without a BOM is read byte for byte.
TEST_F(ProfileTest, Utf16FileReadsAsMissingUtf8AsBytes) {
  const std::string text = "[A]\r\nk=1\r\n";
  std::string little = "\xFF\xFE", big = "\xFE\xFF";
  for (char c : text) {
    little += std::string{c, '\0'};
    big += std::string{'\0', c};
  }
  for (const std::string& content : {little, big, "\xFF\xFE" + text}) {
    writeFile(content);
    EXPECT_EQ(read("A", "k"), Result("d", 1));
    EXPECT_EQ(getProfileInt("A", "k", 7, path_.c_str()), 7u);
  }
  writeFile("[A]\nk=caf\xC3\xA9\n");
  EXPECT_EQ(read("A", "k"), Result("caf\xC3\xA9", 5));

  EXPECT_STREQ(unreadableProfileEncoding("\xFF\xFE[\0"), "UTF-16 LE");
  EXPECT_STREQ(unreadableProfileEncoding("\xFE\xFF"), "UTF-16 BE");
  for (std::string_view start : {"", "\xFF", "\xEF\xBB\xBF[", "[A]", "\xFE\xFE"}) {
    EXPECT_EQ(unreadableProfileEncoding(start), nullptr) << start;
  }
}

TEST_F(ProfileTest, ValueLengthWrapsAt64KiB) {
  for (size_t length : {65535u, 65536u, 65537u, 70000u}) {
    writeFile("[L]\nk=" + std::string(length, 'a') + "\n");
    const Result got = read("L", "k", "d", 100000);
    EXPECT_EQ(got.second, length % 65536) << length;
    EXPECT_EQ(got.first, std::string(length % 65536, 'a')) << length;
  }
}

TEST_F(ProfileTest, BareFileNameIsTakenFromCurrentDirectory) {
  writeFile("[S]\nk=here\n");
  const fs::path previous = fs::current_path();
  fs::current_path(dir_.path());
  char buffer[16];
  const uint32_t got = getProfileString("S", "k", "d", buffer, sizeof buffer, "test.ini");
  fs::current_path(previous);
  EXPECT_EQ(got, 4u);
  EXPECT_STREQ(buffer, "here");
}

TEST_F(ProfileTest, IntegerConversion) {
  writeFile(
      "[I]\none=1\nplus=+1\nminus=-1\nwrap0=4294967296\nwrap1=4294967297\n"
      "negwrap=-4294967297\nstop=42A94967297\nletter=B4294967297\nblanks=\"  12\"\n"
      "quoted=\"12\"\nhex=0x1A\nnegHex=-0x10\noctal=0o17\nbinary=0b101\nupperHex=0X1A\n"
      "bareHex=0x\nsuffix=102abc\nempty=\nemptyQuotes=\"\"\n");
  struct Case {
    const char* key;
    int32_t defaultValue;
    uint32_t expected;
  };
  const Case cases[] = {
      {"missing", -1, 4294967295u},
      {"one", -1, 1},
      {"plus", -1, 1},
      {"minus", 1, 4294967295u},
      {"wrap0", 1, 0},
      {"wrap1", 1, 1},
      {"negwrap", 1, 4294967295u},
      {"stop", 1, 42},
      {"letter", 1, 0},
      {"blanks", 0, 12},
      {"quoted", 0, 12},
      {"hex", 0, 26},
      {"negHex", 0, 0xFFFFFFF0u},
      {"octal", 0, 15},
      {"binary", 0, 5},
      {"upperHex", 5, 0},
      {"bareHex", 5, 0},
      {"suffix", 0, 102},
      {"empty", 7, 7},
      {"emptyQuotes", 7, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getProfileInt("I", c.key, c.defaultValue, path_.c_str()), c.expected) << c.key;
  }
  EXPECT_EQ(static_cast<int32_t>(getProfileInt("I", "minus", 1, path_.c_str())), -1);
  EXPECT_EQ(getProfileInt("I", "one", 421, (dir_ / "missing.ini").c_str()), 421u);
}

// The keys of a section as the lookups see them: the first section of the
// name only, each key once, comments and lines without '=' left out.
TEST_F(ProfileTest, SectionKeysAsTheLookupsSeeThem) {
  writeExample();
  const ProfileKeys main = readProfileKeys("main", path_.c_str());
  EXPECT_TRUE(main.fileRead);
  EXPECT_TRUE(main.sectionFound);
  EXPECT_EQ(main.keys, (std::vector<std::string>{"Name", "Empty", "Eq", "Q1", "Q2", "Q3", "Semi",
                                                 "#Hash", "Dup"}));
  const ProfileKeys absent = readProfileKeys("options", path_.c_str());
  EXPECT_TRUE(absent.fileRead);
  EXPECT_FALSE(absent.sectionFound);
  EXPECT_FALSE(readProfileKeys("Main", (dir_ / "missing.ini").c_str()).fileRead);
}

// A file read once answers as the calls that read it every time, and keeps
// answering so after the file changed or went; the section names as written,
// each spelling once.
TEST_F(ProfileTest, OneReadingAnswersAsTheCallsDo) {
  writeExample();
  const Profile profile = Profile::read(path_.c_str());
  for (const char* key : {"name", "Empty", "Eq", "Q1", "Q3", "Hidden", "Dup", "Late", "K"}) {
    for (const char* section : {"Main", " main ", "Sec", "Open", "none"}) {
      for (uint32_t size : {0u, 1u, 3u, 256u}) {
        std::vector<char> once(size + 1, 'X');
        const uint32_t got = profile.getString(section, key, "d ", once.data(), size);
        std::vector<char> each(size + 1, 'X');
        EXPECT_EQ(got, getProfileString(section, key, "d ", each.data(), size, path_.c_str()));
        EXPECT_EQ(once, each) << section << "/" << key << "/" << size;
      }
      EXPECT_EQ(profile.getInt(section, key, -5), getProfileInt(section, key, -5, path_.c_str()));
    }
  }
  EXPECT_EQ(profile.keys("main").keys, readProfileKeys("main", path_.c_str()).keys);
  EXPECT_EQ(profile.sectionNames(), (std::vector<std::string>{"Main", "Sec", "Open"}));
  fs::remove(path_);
  EXPECT_EQ(profile.text("Main", "Name", "d"), "Alice");
  const Profile missing = Profile::read(path_.c_str());
  EXPECT_FALSE(missing.fileRead());
  EXPECT_EQ(missing.text("Main", "Name", "d  "), "d");
  EXPECT_EQ(missing.getInt("Main", "Name", -5), static_cast<uint32_t>(-5));
  EXPECT_TRUE(missing.sectionNames().empty());
}

TEST(NameDistanceTest, LettersAddedDroppedChangedOrSwappedIgnoringCase) {
  EXPECT_EQ(nameDistance("options", "options"), 0u);
  EXPECT_EQ(nameDistance("Option", "options"), 1u);
  EXPECT_EQ(nameDistance("optoins", "options"), 1u);
  EXPECT_EQ(nameDistance("field_delimiter", "field_delimeter"), 1u);
  EXPECT_EQ(nameDistance("trade_particpant", "trade_participant"), 1u);
  EXPECT_EQ(nameDistance("sync_timout", "sync_timeout"), 1u);
  EXPECT_EQ(nameDistance("zuqonl", "options"), 5u);
  EXPECT_EQ(nameDistance("", "abc"), 3u);
}

TEST(NearestKeyTest, MisspeltKeysFindTheirKeyAndOthersNone) {
  const std::vector<std::string_view> known = {"sync_timeout", "trade_participant", "report_file",
                                               "log_rows", "print_header"};
  EXPECT_EQ(nearestKey("trade_particpant", known), "trade_participant");
  EXPECT_EQ(nearestKey("report_flie", known), "report_file");
  EXPECT_EQ(nearestKey("SYNC_TIMEOUTS", known), "sync_timeout");
  EXPECT_EQ(nearestKey("logrows", known), "log_rows");
  EXPECT_EQ(nearestKey("colour", known), "");
  EXPECT_EQ(nearestKey(std::string(1000, 'x'), known), "");
  EXPECT_TRUE(isKnownKey("Print_Header", known));
  EXPECT_FALSE(isKnownKey("print_headers", known));
}

}  // namespace
}  // namespace platform
