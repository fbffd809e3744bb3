// Paths on POSIX: bytes joined and normalised as text; the current folder
// from getcwd.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace platform {

namespace {

// The current folder, or "" when it can't be had (removed, too long).
std::string currentFolder() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return "";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// `path` (not empty) with "." and ".." steps resolved and repeated '/'
// merged. A trailing '/' stays, and a last step "." or ".." leaves one.
std::string lexicallyNormal(const std::string& path) {
  const bool rooted = path.front() == '/';
  std::vector<std::string_view> steps;
  bool endsInFolder = false;
  for (size_t begin = 0; begin <= path.size();) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    const std::string_view step(path.data() + begin, end - begin);
    endsInFolder = step.empty() || step == "." || step == "..";
    if (step == "..") {
      if (!steps.empty() && steps.back() != "..") {
        steps.pop_back();
      } else if (!rooted) {
        steps.push_back(step);
      }
    } else if (!step.empty() && step != ".") {
      steps.push_back(step);
    }
    begin = end + 1;
  }
  std::string normal = rooted ? "/" : "";
  for (size_t i = 0; i < steps.size(); ++i) {
    if (i > 0) normal += '/';
    normal += steps[i];
  }
  if (steps.empty()) return rooted ? normal : ".";
  if (endsInFolder) normal += '/';
  return normal;
}

}  // namespace

std::string pathBesideFile(const std::string& file, const std::string& path) {
  if (path.empty()) return path;
  std::string joined = path;
  if (path.front() != '/') {
    const size_t slash = file.rfind('/');
    std::string folder = slash == std::string::npos ? "" : file.substr(0, slash + 1);
    if (folder.empty() || folder.front() != '/') {
      const std::string current = currentFolder();
      if (!current.empty()) folder = current + "/" + folder;
    }
    joined = folder + path;
  }
  return lexicallyNormal(joined);
}

int folderReadError(const std::string& path) {
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return errno;
  closedir(folder);
  return 0;
}

int folderWriteError(const std::string& path) {
  if (const int error = folderReadError(path); error != 0) return error;
  return access(path.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

int fileWriteError(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return errno;
  if (!S_ISREG(status.st_mode)) return kNotARegularFile;
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace platform
