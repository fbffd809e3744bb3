// Temporary folders and whole-file reads and writes for the tests.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace testsupport {

// A fresh folder under the platform's temporary folder, removed with its
// contents when the object goes. Throws std::runtime_error when no folder
// can be made.
class TempDir {
 public:
  // `prefix` starts the folder's name, to tell whose folder it is.
  explicit TempDir(const std::string& prefix = "zuq-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as text, and the path of `name` inside it (its bytes as they
  // are, see below).
  std::string dir() const { return path_.string(); }
  std::string operator/(const std::string& name) const;

  // Writes `content` to `name` in the folder, making its folders first.
  void write(const std::string& name, const std::string& content) const;
  // The bytes of `name` in the folder ("" when it can't be read).
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// A new empty file, open for reading and writing in binary mode, in a folder
// of this process's own that goes when the process ends; the caller closes
// it. Null when it can't be made. Instead of std::tmpfile, which on Windows
// makes its files in the root of the drive, where test processes running side
// by side can collide.
std::FILE* openScratchFile();

// Paths here are the system's 8-bit text, as the programs under test take
// them: on Windows in the ANSI code page, never turned into UTF-8 or wide
// text on the way, so that a name with letters beyond ASCII is the same name
// for the test and for the program.

// Makes the folder at `path` and every missing folder above it. True when
// the folder is there.
bool makeFolders(const std::string& path);

// True when something (a file, a folder) is at `path`.
bool pathExists(const std::string& path);

// Writes `content` to the file at `path` byte for byte, making its folders.
void writeFile(const std::string& path, const std::string& content);

// The bytes of the file at `path` ("" when it can't be read).
std::string readFile(const std::string& path);

// The text of a file written in text mode (a log), its lines ended by LF:
// on Windows CR LF becomes LF, elsewhere the bytes are as they are.
std::string readTextFile(const std::string& path);

// `text` as read from a text-mode file or a child's output, its lines ended
// by LF: on Windows CR LF becomes LF, elsewhere nothing changes.
std::string unixLineEnds(const std::string& text);

// `text` with the line ends a text-mode file gets on this platform: LF, or
// CR LF on Windows.
std::string nativeLineEnds(const std::string& text);

}  // namespace testsupport
