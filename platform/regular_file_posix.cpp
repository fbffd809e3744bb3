// Regular files on POSIX: opened with O_NONBLOCK, so that a FIFO without a
// writer does not block the open, then looked at before anything is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/regular_file.h"

namespace platform {

std::FILE* openRegularFile(const char* path, int* error) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *error = S_ISDIR(status.st_mode) ? EISDIR : kNotRegularFile;
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    *error = errno;
    close(fd);
  }
  return file;
}

bool regularFileSize(std::FILE* file, uint64_t* size) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool seekRegularFile(std::FILE* file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

}  // namespace platform
