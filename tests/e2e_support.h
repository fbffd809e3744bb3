// Runs the real program against the stand-in library in a scratch folder.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

// A scratch folder, removed with its contents when the sandbox goes.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string dir_;
};

struct RunResult {
  int exitStatus = -1;  // -1: killed after the time limit
  std::string log;      // standard output and standard error
  std::vector<std::string> lines() const;
  bool hasLine(const std::string& line) const;
};

// Runs `program` with `args` in `workDir`, killing it after `limitSeconds`.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, int limitSeconds = 60);

// Runs ZUQTradeReport in the sandbox with the INI file named `ini` (empty:
// no argument).
RunResult runReport(const Sandbox& box, const std::string& ini = "test.ini", int limitSeconds = 60);

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

// The report header's trailing time stamp replaced by "<stamp>".
std::string maskHeaderStamp(const std::string& report);

// Contents of a file below tests/golden.
std::string golden(const std::string& name);

}  // namespace e2e
