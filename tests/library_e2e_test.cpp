// The online library found and checked when the program starts: each library
// it cannot use ends the run before any other line, with one line on
// standard error and exit status 1; --check names the same problem.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "testsupport/process.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

using testsupport::TempDir;

constexpr char kNoReport[] = "[ZUQTradeReport] No report: the online library ";
constexpr char kClosing[] = "; no previous report, exit status 1";

// The one line of a refused library: the run's only output, exit status 1.
std::string refusal(const RunResult& run) {
  EXPECT_EQ(run.exitStatus, 1) << run.log;
  const std::vector<std::string> lines = run.lines();
  EXPECT_EQ(lines.size(), 1u) << run.log;
  return lines.empty() ? "" : lines.front();
}

// A test library's folder (ZUQ_..._LIBRARY_DIR), from the test's own.
std::string testLibraryFolder(const char* folder) {
  return std::filesystem::absolute(std::filesystem::path(testsupport::executableFolder()) / folder)
      .lexically_normal()
      .string();
}

TEST(LibraryE2eTest, LibraryCallsIsCdeclOrStdcall) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nlibrary_calls=pascal\r\n"));
  EXPECT_EQ(refusal(runReport(box)),
            "[ZUQTradeReport] No report: library_calls 'pascal' in [options] is neither cdecl nor "
            "stdcall: write one of the two, or remove the key to let the program find out" +
                std::string(kClosing));
}

#if defined(_WIN32) && !defined(_WIN64)
// The one 32-bit program beside the build's stand-in (cdecl, or stdcall
// with plain names): the first call tells the convention, library_calls
// sets it, and the report is the same either way.
TEST(LibraryE2eTest, The32BitProgramLearnsTheConventionOfItsDll) {
  TempDir box;
  box.write("data/Trade.csv", exampleFile("data/Trade.csv"));
  const std::string sample = exampleFile("sample.ini");
  const bool stdcall = std::string(ZUQ_STAND_IN_CALLS) == "stdcall";
  std::string set = sample;
  set.insert(set.find('\n', set.find("[options]")) + 1,
             "library_calls=" + std::string(ZUQ_STAND_IN_CALLS) + "\r\n");
  for (const std::string& ini : {sample, set}) {
    box.write("sample.ini", ini);
    const RunResult run = runReport(box, "sample.ini");
    EXPECT_EQ(run.exitStatus, 0) << run.log;
    const std::string how =
        ini == sample
            ? std::string("told by the first call, zuqonlSetIniPath, which ") +
                  (stdcall ? "took its arguments off" : "left its arguments on") + " the stack"
            : "set by library_calls in [options]";
    EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Library calls: " + std::string(ZUQ_STAND_IN_CALLS) +
                            " (" + how + ")"))
        << run.log;
    expectGolden("sample-report.txt", maskHeaderStamp(box.read("sample-report.txt")));
  }
}
#endif

#ifndef _WIN32
// The program with LD_LIBRARY_PATH naming `folder`, searched before the
// program's own library folder.
RunResult runWithLibraryPath(const TempDir& box, const std::string& folder,
                             const std::vector<std::string>& args) {
  std::vector<std::string> line = {"LD_LIBRARY_PATH=" + folder, ZUQ_PROGRAM_PATH};
  line.insert(line.end(), args.begin(), args.end());
  return runProgram("/usr/bin/env", line, box.dir(), 30);
}

// The folder a run starts in is the operator's, and may hold anything: the
// program takes none of its libraries from there, neither the ones it is
// linked against nor the online library.
TEST(LibraryE2eTest, NoLibraryIsTakenFromTheFolderTheRunStartsIn) {
  TempDir box;
  box.write("data/Trade.csv", exampleFile("data/Trade.csv"));
  box.write("sample.ini", exampleFile("sample.ini"));
  for (const char* name : {"libstdc++.so.6", "libc.so.6", "libzuqonl.so"}) {
    box.write(name, "not a library\n");
  }
  const RunResult run = runReport(box, "sample.ini");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  expectGolden("sample-report.txt", maskHeaderStamp(box.read("sample-report.txt")));
}

TEST(LibraryE2eTest, LibraryFoundFirstThatCannotBeUsed) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\n"));
  // No library at all, but a file of its name: the loader's words, our line.
  box.write("lib/libzuqonl.so", "not a library\n");
  std::string line = refusal(runWithLibraryPath(box, box / "lib", {"test.ini"}));
  EXPECT_EQ(
      line.rfind(std::string(kNoReport) + "cannot load (" + (box / "lib/libzuqonl.so") + ": ", 0),
      0u)
      << line;
  EXPECT_TRUE(line.ends_with("): put the vendor's libzuqonl.so there" + std::string(kClosing)))
      << line;

  // A library lacking one operation, named.
  const std::string partial = testLibraryFolder(ZUQ_PARTIAL_LIBRARY_DIR);
  line = refusal(runWithLibraryPath(box, partial, {"test.ini"}));
  EXPECT_EQ(line, kNoReport + ("'" + partial + "/libzuqonl.so' lacks the operations " +
                               "zuqonlOpenConnection: it is not the online library this program "
                               "is made for" +
                               kClosing));
  EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));

  const RunResult check = runWithLibraryPath(box, partial, {"--check", "test.ini"});
  EXPECT_EQ(check.exitStatus, 4) << check.log;
  EXPECT_TRUE(check.hasLine("problem: the online library '" + partial +
                            "/libzuqonl.so' lacks the operations zuqonlOpenConnection: it is not "
                            "the online library this program is made for (a run ends with exit "
                            "status 1)"))
      << check.log;
}
#else
// A folder holding a copy of the program and, when `library` is not empty,
// the file `library` as its ZUQOnl.dll.
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::string& library = "") : folder_("zuq-program") {
    const std::filesystem::path here = testsupport::executableFolder();
    std::filesystem::copy_file(here / "ZUQTradeReport.exe", folder_.path() / "ZUQTradeReport.exe");
    if (!library.empty()) std::filesystem::copy_file(library, folder_.path() / "ZUQOnl.dll");
  }
  const TempDir& folder() const { return folder_; }
  std::string dll() const { return (folder_.path() / "ZUQOnl.dll").string(); }
  RunResult run(const TempDir& box, const std::vector<std::string>& args = {"test.ini"}) const {
    return runProgram((folder_.path() / "ZUQTradeReport.exe").string(), args, box.dir(), 30);
  }

 private:
  TempDir folder_;
};

// The headers of a PE file of the other bitness than this program's.
std::string otherBitnessHeader() {
  constexpr uint32_t kPeOffset = 0x80;
  std::string bytes(1024, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3C] = static_cast<char>(kPeOffset);
  bytes.replace(kPeOffset, 4, std::string("PE\0\0", 4));
  const bool program64 = sizeof(void*) == 8;
  bytes[kPeOffset + 4] = program64 ? '\x4C' : '\x64';  // machine: i386 or x86-64
  bytes[kPeOffset + 5] = program64 ? '\x01' : '\x86';
  bytes[kPeOffset + 4 + 19] = '\x21';  // characteristics: a DLL
  bytes[kPeOffset + 24] = '\x0B';      // optional header magic: PE32 or PE32+
  bytes[kPeOffset + 25] = program64 ? '\x01' : '\x02';
  return bytes;
}

// No DLL, a DLL only in the current folder, the other bitness's, a file that
// is no DLL, a DLL lacking one operation: each refused, never waiting.
TEST(LibraryE2eTest, DllBesideTheProgramThatCannotBeUsed) {
  TempDir box("zuq-current");
  box.write("test.ini", iniFile("sync_timeout=1\r\n"));
  // A ZUQOnl.dll in the current folder is never loaded.
  std::filesystem::copy_file(std::filesystem::path(testsupport::executableFolder()) / "ZUQOnl.dll",
                             box.path() / "ZUQOnl.dll");
  const ProgramFolder alone;
  std::string line = refusal(alone.run(box));
  EXPECT_EQ(line, kNoReport + ("'" + alone.dll() +
                               "' is not there (the program loads it from its own folder only): "
                               "put the vendor's ZUQOnl.dll beside ZUQTradeReport.exe" +
                               kClosing));

  box.write("other-bitness.dll", otherBitnessHeader());
  const ProgramFolder other(box / "other-bitness.dll");
  line = refusal(other.run(box));
  EXPECT_EQ(line, kNoReport + ("'" + other.dll() + "' is " +
                               (sizeof(void*) == 8 ? "a 32-bit DLL; this program is 64-bit: use "
                                                     "the win32 zip"
                                                   : "a 64-bit DLL; this program is 32-bit: use "
                                                     "the win64 zip") +
                               kClosing));

  box.write("text.dll", "not a DLL\r\n");
  const ProgramFolder text(box / "text.dll");
  line = refusal(text.run(box));
  EXPECT_EQ(line.rfind(kNoReport + ("'" + text.dll() + "' is not a DLL (Windows error "), 0), 0u)
      << line;
  EXPECT_TRUE(line.ends_with("): put the vendor's ZUQOnl.dll there" + std::string(kClosing)))
      << line;

  const ProgramFolder partial(testLibraryFolder(ZUQ_PARTIAL_LIBRARY_DIR) + "\\ZUQOnl.dll");
  line = refusal(partial.run(box));
  EXPECT_EQ(line, kNoReport + ("'" + partial.dll() +
                               "' lacks the operations zuqonlOpenConnection: it is not the "
                               "online library this program is made for" +
                               kClosing));
  const RunResult check = partial.run(box, {"--check", "test.ini"});
  EXPECT_EQ(check.exitStatus, 4) << check.log;
  EXPECT_TRUE(check.hasLine("problem: the online library '" + partial.dll() +
                            "' lacks the operations zuqonlOpenConnection: it is not the online "
                            "library this program is made for (a run ends with exit status 1)"))
      << check.log;
}

// A crash inside the DLL ends the run with the fault's code and a line that
// names it, never with status 0 nor with a dialog.
TEST(LibraryE2eTest, FaultInsideTheDllEndsTheRunWithItsCode) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\n"));
  const ProgramFolder faulting(testLibraryFolder(ZUQ_FAULTING_LIBRARY_DIR) + "\\ZUQOnl.dll");
  const RunResult run = faulting.run(box);
  EXPECT_EQ(run.exitStatus, -1073741819) << run.log;  // 0xC0000005
  const std::vector<std::string> lines = run.lines();
  ASSERT_FALSE(lines.empty()) << run.log;
  const std::string& line = lines.back();
  EXPECT_EQ(
      line.rfind("[ZUQTradeReport] No report: the program stopped on a fault (0xC0000005 at ", 0),
      0u)
      << run.log;
  EXPECT_TRUE(line.ends_with(" in ZUQOnl.dll), exit status -1073741819")) << run.log;
}

// The one 32-bit program beside a stdcall DLL exporting decorated names: the
// same report as beside the cdecl one, and the convention said once.
TEST(LibraryE2eTest, DecoratedStdcallDllGivesTheSameReport) {
#ifndef ZUQ_DECORATED_LIBRARY_DIR
  GTEST_SKIP() << "the stand-in with decorated stdcall exports is built by preset "
                  "mingw32-stdcall only";
#else
  const ProgramFolder decorated(testsupport::executableFolder() + "\\" ZUQ_DECORATED_LIBRARY_DIR
                                                                  "\\ZUQOnl.dll");
  const TempDir& folder = decorated.folder();
  folder.write("sample.ini", exampleFile("sample.ini"));
  folder.write("data/Trade.csv", exampleFile("data/Trade.csv"));
  const RunResult run = decorated.run(folder, {"sample.ini"});
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(
      run.hasLine("[ZUQTradeReport] Library calls: stdcall (told by its decorated names "
                  "(zuqonlSetIniPath@4))"))
      << run.log;
  expectGolden("sample-report.txt", maskHeaderStamp(folder.read("sample-report.txt")));
#endif
}
#endif

}  // namespace
}  // namespace e2e
