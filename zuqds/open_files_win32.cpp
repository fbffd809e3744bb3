#include <stdio.h>

#include <initializer_list>
#include <string>

#include "zuqds/open_files.h"

namespace zuqds {

// Windows sets no per-process limit of sockets, but each subscription's table
// file is a C runtime file, of which the runtime allows a fixed number: that
// number, raised as far as the runtime goes, sizes the clients (counting
// their sockets too, which errs on the safe side).
size_t raiseOpenFileLimit() {
  for (int wanted : {8192, 2048}) {
    if (_setmaxstdio(wanted) == wanted) return static_cast<size_t>(wanted);
  }
  return static_cast<size_t>(_getmaxstdio());
}

// No ulimit here: the C runtime's number is fixed once raised as above.
std::string openFileLimitText(size_t limit) {
  return "the C runtime opens at most " + std::to_string(limit) + " files";
}

}  // namespace zuqds
