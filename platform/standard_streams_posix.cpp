// A closed descriptor 0, 1 or 2 is the lowest free number, so the next open
// takes it: the null device takes it first.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/standard_streams.h"

namespace platform {

void reserveStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != -1 && opened != fd) close(opened);  // a lower one was taken meanwhile
  }
}

}  // namespace platform
