// The binding's pure pieces, and the binding every in-process test of the
// program's code calls through.
#include "online/online_library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "testsupport/temp_dir.h"

namespace {

// The program's code logs and converts through the library: bound before any
// test, by the rules of a run.
class BoundLibrary : public testing::Environment {
 public:
  void SetUp() override {
    const online::Library& library = online::bindLibrary("");
    ASSERT_EQ(library.problem, "");
  }
};
const testing::Environment* const kBound = testing::AddGlobalTestEnvironment(new BoundLibrary);

TEST(OnlineLibraryTest, CallsSettingIsCdeclStdcallOrEmpty) {
  online::Calls calls = online::Calls::Cdecl;
  EXPECT_TRUE(online::parseCallsSetting("", &calls));
  EXPECT_EQ(calls, online::Calls::Unknown);
  EXPECT_TRUE(online::parseCallsSetting("stdcall", &calls));
  EXPECT_EQ(calls, online::Calls::Stdcall);
  EXPECT_TRUE(online::parseCallsSetting("cdecl", &calls));
  EXPECT_EQ(calls, online::Calls::Cdecl);
  EXPECT_FALSE(online::parseCallsSetting("pascal", &calls));
  EXPECT_FALSE(online::parseCallsSetting("stdcall ", &calls));
}

TEST(OnlineLibraryTest, AllNineOperationsBound) {
  const online::Library& library = online::boundLibrary();
  ASSERT_EQ(library.exports.size(), online::kOperationCount);
  for (size_t i = 0; i < online::kOperationCount; ++i) {
    EXPECT_EQ(library.exports[i], online::kOperations[i].name);
  }
  DateTimeValue value{};
  EXPECT_EQ(online::zuqonlStringToDateTime("2024-02-29 10:11:12", &value), 1);
  EXPECT_EQ(value.day, 29);
  EXPECT_EQ(online::zuqonlStringToDateTime("2023-02-29", &value), 0);
}

// A PE header as a linker writes it: "MZ", the offset of "PE\0\0" at 0x3C,
// the file header's characteristics and the optional header's magic.
std::string peFile(uint32_t peOffset, uint16_t magic, uint16_t characteristics) {
  std::string bytes(peOffset + 4 + 20 + 2, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(peOffset >> (8 * i));
  bytes.replace(peOffset, 4, std::string("PE\0\0", 4));
  bytes[peOffset + 4 + 18] = static_cast<char>(characteristics & 0xFF);
  bytes[peOffset + 4 + 19] = static_cast<char>(characteristics >> 8);
  bytes[peOffset + 24] = static_cast<char>(magic & 0xFF);
  bytes[peOffset + 25] = static_cast<char>(magic >> 8);
  return bytes;
}

TEST(OnlineLibraryTest, PeHeaderGivesBitnessAndDllOnlyWithinTheFile) {
  testsupport::TempDir box;
  auto header = [&box](const std::string& bytes) {
    box.write("f", bytes);
    return online::readPeHeader(box / "f");
  };
  EXPECT_EQ(header(peFile(0x80, 0x10B, 0x2102)).bits, 32);
  EXPECT_TRUE(header(peFile(0x80, 0x10B, 0x2102)).dll);
  EXPECT_EQ(header(peFile(0x100, 0x20B, 0x2022)).bits, 64);
  EXPECT_FALSE(header(peFile(0x80, 0x20B, 0x0022)).dll);  // a program
  EXPECT_EQ(header(peFile(0x80, 0x999, 0x2022)).bits, 0);
  EXPECT_EQ(header("not a program file at all").bits, 0);
  EXPECT_EQ(header("").bits, 0);
  // "PE" beyond the end, or an offset running off it.
  std::string cut = peFile(0x80, 0x20B, 0x2022);
  cut.resize(0x80 + 10);
  EXPECT_EQ(header(cut).bits, 0);
  std::string far = peFile(0x80, 0x20B, 0x2022);
  far[0x3F] = '\x7F';
  EXPECT_EQ(header(far).bits, 0);
  EXPECT_EQ(online::readPeHeader(box / "nothing here").bits, 0);
}

}  // namespace
