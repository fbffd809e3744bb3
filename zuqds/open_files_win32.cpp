#include "zuqds/open_files.h"

namespace zuqds {

// Windows sets no per-process limit of sockets that a program could raise;
// a fixed number keeps the client limit, and with it the server's memory,
// bounded as the POSIX limit does.
size_t raiseOpenFileLimit() { return 16384; }

}  // namespace zuqds
