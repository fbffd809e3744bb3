#include <sys/resource.h>

#include <cstdint>
#include <string>

#include "zuqds/open_files.h"

namespace zuqds {

size_t raiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return SIZE_MAX;  // nothing known to size to
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    // Some systems refuse an unlimited soft limit; the old one then stays.
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > SIZE_MAX) return SIZE_MAX;
  return static_cast<size_t>(limit.rlim_cur);
}

std::string openFileLimitText(size_t limit) {
  return "the open-file limit is " + std::to_string(limit);
}

}  // namespace zuqds
