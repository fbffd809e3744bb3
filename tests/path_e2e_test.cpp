// Folders and files named with letters beyond ASCII and with blanks. Every
// path stays the bytes that the INI file or the command line gives, in the
// system's ANSI code page, from the settings to the file calls and into the
// log. The names here are Windows-1252; under Wine the test is started with
// a locale that gives that code page, so it means the same on every machine.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <string>

#include "e2e_support.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

using testsupport::TempDir;

// "José Müller", "réglages ß", "Grüß Gott.ini", ... as Windows-1252 bytes.
// The euro sign (0x80) is where Windows-1252 and ISO-8859-1 part: a path
// turned into wide text as if it were ISO-8859-1 still finds é, ü and ß, but
// not €.
const std::string kHome = "Jos\xE9 M\xFCller";
const std::string kIniFolder = "r\xE9glages \xDF";
const std::string kIni = kIniFolder + "/Gr\xFC\xDF Gott.ini";
const std::string kDataDir = "Ums\xE4tze in \x80";
const std::string kLogFolder = "journal \xDF";
const std::string kLog = kLogFolder + "/zuq \xFC.log";
const std::string kReportFolder = "rapport \xE9t\xE9";
const std::string kReport = kReportFolder + "/r\xE9sultat.txt";

// `text` with the value of `key` replaced by `value`.
std::string withValue(std::string text, const std::string& key, const std::string& value) {
  const size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) {
    ADD_FAILURE() << "no " << key << " in the sample";
    return text;
  }
  const size_t begin = at + key.size() + 2;
  return text.replace(begin, text.find_first_of("\r\n", begin) - begin, value);
}

// `path` as the library spells the folders it resolves.
std::string nativePath(std::string path) {
#ifdef _WIN32
  for (char& c : path) c = c == '/' ? '\\' : c;
#endif
  return path;
}

// The bundled sample moved into such folders: the INI file below the
// current folder, data_dir relative to it, log_file absolute, report_file
// relative to the current folder.
TEST(PathE2eTest, SampleRunsInFoldersNamedBeyondAscii) {
#ifdef _WIN32
  ASSERT_EQ(GetACP(), 1252u) << "the file names of this test are Windows-1252 and need that ANSI "
                                "code page; under Wine start it with LC_ALL=C.UTF-8 (CTest does "
                                "so)";
#endif
  TempDir box;
  const std::string home = box / kHome;
  std::string ini = exampleFile("sample.ini");
  ini = withValue(ini, "data_dir", kDataDir);
  ini = withValue(ini, "log_file", home + "/" + kLog);
  ini = withValue(ini, "report_file", kReport);
  box.write(kHome + "/" + kIni, ini);
  box.write(kHome + "/" + kIniFolder + "/" + kDataDir + "/Trade.csv",
            exampleFile("data/Trade.csv"));
  for (const std::string& folder : {kLogFolder, kReportFolder}) {
    ASSERT_TRUE(testsupport::makeFolders(home + "/" + folder))
        << "no folder '" << folder << "' could be made; under Wine the locale must have UTF-8 "
        << "file names (LC_ALL=C.UTF-8)";
  }

  const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {kIni}, home);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Using ini path: '" + kIni + "'")) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] NetIntegrityOk: embedded data server, data_dir '" +
                          nativePath(home + "/" + kIniFolder + "/" + kDataDir) + "'"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Report file: '" + kReport + "'")) << run.log;
  ASSERT_TRUE(testsupport::pathExists(home + "/" + kReport));
  expectGolden("sample-report.txt", maskHeaderStamp(testsupport::readFile(home + "/" + kReport)));
  ASSERT_TRUE(testsupport::pathExists(home + "/" + kLog));
  EXPECT_EQ(testsupport::readTextFile(home + "/" + kLog), run.log);
}

#ifdef ZUQDS_PATH
// zuqds serving a folder so named to the sample run; a missing one is named
// as given in the message that ends zuqds.
TEST(PathE2eTest, ZuqdsServesAFolderNamedBeyondAscii) {
#ifdef _WIN32
  ASSERT_EQ(GetACP(), 1252u) << "needs the ANSI code page 1252 (LC_ALL=C.UTF-8 under Wine)";
#endif
  TempDir box;
  const std::string dataDir = box / (kHome + "/" + kDataDir);
  const RunResult refused =
      runProgram(ZUQDS_PATH, {"--data", dataDir, "--listen", "127.0.0.1:0"}, box.dir());
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_TRUE(refused.hasLine("zuqds: data folder '" + dataDir +
                              "' cannot be read: No such file or directory"))
      << refused.log;

  box.write(kHome + "/" + kDataDir + "/Trade.csv", exampleFile("data/Trade.csv"));
  BackgroundProcess server(ZUQDS_PATH, {"--data", dataDir, "--listen", "127.0.0.1:0"}, box.dir(),
                           ".zuqds-output");
  const std::string listening = "listening on ";
  ASSERT_TRUE(server.waitForOutput(listening)) << server.output();
  const std::string output = server.output();
  const std::string address = output.substr(output.find(listening) + listening.size());
  box.write(kHome + "/" + kIni,
            exampleFile("sample.ini") + "server=" + address.substr(0, address.find('\n')) + "\r\n");
  const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {kIni}, box / kHome);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  expectGolden("sample-report.txt",
               maskHeaderStamp(testsupport::readFile(box / (kHome + "/sample-report.txt"))));
}
#endif

}  // namespace
}  // namespace e2e
