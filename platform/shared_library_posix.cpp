#include <dlfcn.h>
#include <link.h>

#include <cstring>

#include "platform/shared_library.h"

namespace platform {

OpenedLibrary openProgramLibrary(const char* name) {
  OpenedLibrary opened;
  opened.path = name;
  dlerror();
  // dlmopen into the program's own namespace is dlopen, but the loader
  // takes the RUNPATH of the program that calls it also where a sanitizer's
  // runtime stands in for dlopen (and would be taken for the caller).
  opened.handle = dlmopen(LM_ID_BASE, name, RTLD_NOW | RTLD_LOCAL);
  if (opened.handle == nullptr) {
    const char* reason = dlerror();
    opened.reason = reason != nullptr ? reason : "the library did not load";
    // A name found nowhere; a file found but unusable names that file.
    opened.notFound = opened.reason.find(std::string(name) + ": cannot open shared object") == 0;
    return opened;
  }
  struct link_map* map = nullptr;
  if (dlinfo(opened.handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
      map->l_name != nullptr && map->l_name[0] != '\0') {
    opened.path = map->l_name;
  }
  return opened;
}

void* librarySymbol(void* library, const char* name) { return dlsym(library, name); }

void reportFaults(const char*) {}

}  // namespace platform
