#include "testsupport/temp_dir.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#endif

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char kSeparators[] = "\\/";
int makeFolder(const char* path) { return _mkdir(path); }
#else
constexpr char kSeparators[] = "/";
int makeFolder(const char* path) { return mkdir(path, 0777); }
#endif

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  // create_directory reports whether it made the folder, so a name taken by
  // another test process at the same moment is simply passed over.
  std::random_device seed;
  std::mt19937_64 random(seed());
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / (prefix + "-" + std::to_string(random() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made under " + base.string());
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string& name) const {
  return dir() + kSeparators[0] + name;
}

void TempDir::write(const std::string& name, const std::string& content) const {
  writeFile(*this / name, content);
}

std::string TempDir::read(const std::string& name) const { return readFile(*this / name); }

bool TempDir::exists(const std::string& name) const { return pathExists(*this / name); }

std::FILE* openScratchFile() {
  static const TempDir folder("zuq-scratch");
  static std::atomic<unsigned> made{0};
  const std::string path = folder / ("scratch-" + std::to_string(made++));
  return std::fopen(path.c_str(), "w+b");
}

bool makeFolders(const std::string& path) {
  // A step that can't be made shows as the last one missing.
  for (size_t end = path.find_first_of(kSeparators, 1); end != std::string::npos;
       end = path.find_first_of(kSeparators, end + 1)) {
    makeFolder(path.substr(0, end).c_str());
  }
  makeFolder(path.c_str());
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool pathExists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

void writeFile(const std::string& path, const std::string& content) {
  const size_t end = path.find_last_of(kSeparators);
  if (end != std::string::npos && end > 0) makeFolders(path.substr(0, end));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport

namespace testsupport {

namespace {

#ifdef _WIN32
constexpr bool kCrLf = true;
#else
constexpr bool kCrLf = false;
#endif

}  // namespace

std::string readTextFile(const std::string& path) { return unixLineEnds(readFile(path)); }

std::string unixLineEnds(const std::string& text) {
  if (!kCrLf) return text;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string nativeLineEnds(const std::string& text) {
  if (!kCrLf) return text;
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

}  // namespace testsupport
