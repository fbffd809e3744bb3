// Runs the real program against the stand-in library in a test folder
// (testsupport::TempDir).
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "testsupport/process.h"
#include "testsupport/temp_dir.h"

namespace e2e {

#ifndef SIGKILL
// Windows has no signals; BackgroundProcess maps the numbers it is given.
constexpr int SIGKILL = 9;
#endif

// The program's INI file when none is named, in the platform's spelling.
#ifdef _WIN32
constexpr char kDefaultIniPath[] = ".\\ZUQTradeReport.ini";
#else
constexpr char kDefaultIniPath[] = "./ZUQTradeReport.ini";
#endif

struct RunResult {
  int exitStatus = -1;  // -1: killed after the time limit, or ended by a signal
  int endSignal = 0;    // POSIX: the signal that ended the process; 0 otherwise
  std::string log;      // standard output and standard error, lines ended by LF
  std::vector<std::string> lines() const;
  bool hasLine(const std::string& line) const;
};

// Runs `program` with `args` in `workDir`, killing it after `limitSeconds`.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, int limitSeconds = 60);

#ifndef _WIN32
// Runs `program` as runProgram does, but with standard output and error
// going to a pipe whose reader takes the first `keptBytes` bytes and then
// closes it, as `| head -c N` does. The result's log holds those bytes.
RunResult runWithLogReaderGone(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workDir, size_t keptBytes, int limitSeconds = 60);
#endif

#ifndef _WIN32
// Runs `run` with the files it writes limited to `bytes` (RLIMIT_FSIZE, as
// `ulimit -f` sets it) and SIGXFSZ as a shell leaves it (ending the
// process), then lifts the limit again. Windows has no such limit.
RunResult underFileSizeLimit(uint64_t bytes, const std::function<RunResult()>& run);
#endif

// A process started in the background in `workDir`, its standard output and
// error going to the file `outputFile` there. Killed at once when it is still
// running as the object goes.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                    const std::string& workDir, const std::string& outputFile);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // What the process has written so far, lines ended by LF.
  std::string output() const;
  // Polls the output until it holds `text`: false once the process has
  // ended without writing it, or after `limitSeconds`.
  bool waitForOutput(const std::string& text, int limitSeconds = 30);
  // Sends `signal` and waits for the process to end. On Windows SIGINT and
  // SIGTERM ask for a stop (Ctrl+Break), any other number ends it at once.
  void killAndWait(int signal);
  // Ends the process at once and waits for it.
  void kill();
  // Asks the process to stop as an operator would (SIGTERM, Ctrl+Break)
  // and waits for its end: the result holds its exit status and output.
  RunResult stop(int limitSeconds = 60);
  // Sends `signal` (SIGSTOP, SIGCONT) and returns at once, or for SIGSTOP once
  // the process has stopped.
  void sendSignal(int signal);
  // Waits for the end, killing the process after `limitSeconds`, as
  // runProgram does; the result holds the whole output.
  RunResult wait(int limitSeconds = 60);

 private:
  testsupport::Process process_;
  std::string outputPath_;
};

// Runs ZUQTradeReport in the folder `box` with the INI file named `ini` (empty:
// no argument).
RunResult runReport(const testsupport::TempDir& box, const std::string& ini = "test.ini",
                    int limitSeconds = 60);

#ifndef _WIN32
// While one lives, processes started by the test write no core dump (SIGQUIT
// would write one into their folder where the limit allows).
class NoCoreDumps {
 public:
  NoCoreDumps();
  ~NoCoreDumps();
  NoCoreDumps(const NoCoreDumps&) = delete;
  NoCoreDumps& operator=(const NoCoreDumps&) = delete;

 private:
  unsigned long long soft_;  // the soft limit before
};

// An ordinary user, whose rights to files root's do not override. When the
// tests run as root, the program is run as `nobody` (through setpriv) and the
// test gives it the files it is to own; otherwise the program runs as the
// user the tests run as, who owns the test folder already.
class OrdinaryUser {
 public:
  // Whether the tests run as root (so that files of another user can be made).
  static bool testsRunAsRoot();
  // Empty when the program can be run as the ordinary user; otherwise why
  // not (no setpriv, or `nobody` cannot reach the program).
  static std::string unavailable();
  // Gives `path` to the ordinary user: the file, or the folder with all it
  // holds, as root; nothing otherwise.
  static void give(const std::string& path);
  // The command line that runs the program with `args` as the user: the
  // program and `args`, after setpriv and its options as root.
  static std::vector<std::string> commandLine(const std::vector<std::string>& args);
  // runReport, as the ordinary user. The folder must be given to it first.
  static RunResult runReport(const testsupport::TempDir& box, const std::string& ini = "test.ini");
};
#endif

// One line of a table file: column name to value; absent columns are empty.
using TableRow = std::map<std::string, std::string>;

// A "Trade" row with plausible values for every column, overridden by `fields`.
TableRow trade(const TableRow& fields = {});

// CSV text with a header of `columns` and one record per row; fields are
// quoted when they hold a comma, quote, CR or LF.
std::string tableFile(const std::vector<std::string>& columns, const std::vector<TableRow>& rows);

// The 28 "Trade" columns plus the server's control columns.
std::vector<std::string> tradeColumns();

// An INI with section "zuqonl" pointing at data_dir "data" and section
// "options" holding `options` (key=value lines).
std::string iniFile(const std::string& options);

// An INI whose section "zuqonl" names the data server `server` (HOST:PORT)
// and holds the further lines `library`, with section "options" holding
// `options`.
std::string networkIniFile(const std::string& server, const std::string& options,
                           const std::string& library = "");

// The report header's trailing time stamp replaced by "<stamp>".
std::string maskHeaderStamp(const std::string& report);

// Contents of a file below tests/golden.
std::string golden(const std::string& name);

// Expects `actual` to equal the golden file `name`. With the environment
// variable ZUQ_UPDATE_GOLDEN=1 the file is rewritten with `actual` instead,
// so that a change of output shows as a diff under tests/golden.
void expectGolden(const std::string& name, const std::string& actual);

// A file of the bundled examples (examples/), byte for byte.
std::string exampleFile(const std::string& name);

}  // namespace e2e
