// A shared library loaded when the program runs, and its operations taken by
// name; and, on Windows, the loader's and the fault's dialogs kept off an
// unattended run.
#pragma once

#include <string>

namespace platform {

struct OpenedLibrary {
  // The library, or null when it did not load.
  void* handle = nullptr;
  // Windows: the full path of the file beside the program, loaded or tried.
  // Elsewhere: the file loaded, or the name looked for when none was.
  std::string path;
  // Nothing at `path` (Windows), or no file of the name found (elsewhere).
  bool notFound = false;
  // Why it did not load, in the system's words.
  std::string reason;
  // Windows: the system error of the failed load (193: not a program file of
  // this kind, 126: a DLL it needs is missing); 0 elsewhere.
  unsigned long systemError = 0;
};

// Loads the library file `name` as the program's own: on Windows only from
// the running program's folder (never the current folder or PATH), its
// dependencies looked for in that folder first; elsewhere where the dynamic
// loader looks for the program's libraries (LD_LIBRARY_PATH, then the
// program's RUNPATH). The library stays loaded until the process ends. The
// program's own thread, before the library is used.
OpenedLibrary openProgramLibrary(const char* name);

// The address of the export `name` of `library`; null when it has none.
void* librarySymbol(void* library, const char* name);

// Windows: no dialog of the loader or of the error reporting ever waits for
// a click, and a fault (an access violation, in the library or the program)
// writes "<prefix>the program stopped on a fault (CODE at ADDRESS in
// MODULE), exit status N" to standard error and ends the process with the
// fault's code. Elsewhere nothing: a fault ends the process by its signal.
// Called first thing in main.
void reportFaults(const char* prefix);

}  // namespace platform
