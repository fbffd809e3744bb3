// The README names every line the program logs beyond the lines of every
// run, so that an operator who meets one can look it up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string textOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The start of every "[ZUQTradeReport] " line the program's sources log, up
// to its first conversion or escape ("[ZUQTradeReport] Report file: '").
std::set<std::string> loggedLines() {
  static const std::regex call(R"re(zuqonlPrintf\(\s*((?:"(?:[^"\\]|\\.)*"\s*)+))re");
  static const std::regex literal(R"re("((?:[^"\\]|\\.)*)")re");
  std::set<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(ZUQ_SOURCE_DIR) / "src")) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".cpp" || name.ends_with("_test.cpp")) continue;
    const std::string source = textOf(entry.path());
    for (std::sregex_iterator at(source.begin(), source.end(), call), end; at != end; ++at) {
      const std::string literals = (*at)[1];
      std::string format;
      for (std::sregex_iterator part(literals.begin(), literals.end(), literal); part != end;
           ++part) {
        format += (*part)[1];
      }
      if (!format.starts_with("[ZUQTradeReport] ")) continue;
      lines.insert(format.substr(0, format.find_first_of("%\\")));
    }
  }
  return lines;
}

TEST(ReadmeTest, NamesEveryLineOfTheProgramsOwn) {
  // The lines of every run: the run's course, each notification, the report.
  const std::set<std::string> runLines = {
      "[ZUQTradeReport] Using ini path: '",
      "[ZUQTradeReport] Can't connect to DS: timeout expired (",
      "[ZUQTradeReport] Error in WaitForSingleObject",
      "[ZUQTradeReport] Creating trade report for firm '",
      "[ZUQTradeReport] Can't receive records: timeout expired (",
      "[ZUQTradeReport] NetIntegrityOk: ",
      "[ZUQTradeReport] NetIntegrityLost",
      "[ZUQTradeReport] DS Connected",
      "[ZUQTradeReport] DS Disconnected",
      "[ZUQTradeReport] Error conn=",
      "[ZUQTradeReport] Clear conn=",
      "[ZUQTradeReport] Format conn=",
      "[ZUQTradeReport] AddRow conn=",
      "[ZUQTradeReport] UpdateRow conn=",
      "[ZUQTradeReport] DeleteRow conn=",
      "[ZUQTradeReport] Sychronized conn=",
      "[ZUQTradeReport] Connected conn=",
      "[ZUQTradeReport] Disconnected conn=",
      "[ZUQTradeReport] Report file: '",
      "[ZUQTradeReport] Report options: delimeter '",
      "[ZUQTradeReport] Can't open file '",
  };
  const std::set<std::string> logged = loggedLines();
  for (const std::string& line : runLines) EXPECT_EQ(logged.count(line), 1u) << line;
  const std::string readme = textOf(fs::path(ZUQ_SOURCE_DIR) / "README.md");
  for (const std::string& line : logged) {
    if (runLines.count(line) != 0) continue;
    EXPECT_NE(readme.find("`" + line), std::string::npos) << "README.md does not name: " << line;
  }
}

}  // namespace
