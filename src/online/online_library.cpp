#include "online/online_library.h"

#include <cstdio>
#include <cstring>

#include "platform/shared_library.h"

namespace online {

namespace {

#if defined(_WIN32) && defined(__i386__)
#define ZUQ_STDCALL __stdcall
#else
#define ZUQ_STDCALL
#endif

// Written on the program's own thread: by bindLibrary, and the convention
// by the first call, before zuqonlOpen starts the library's thread.
Library library;
bool attempted = false;
void* operations[kOperationCount] = {};
ZuqonlCallback programCallback = nullptr;

enum Index : size_t {
  kSetIniPath,
  kIdentify,
  kRegisterCallback,
  kOpen,
  kOpenConnection,
  kCloseConnection,
  kClose,
  kPrintf,
  kStringToDateTime
};

// The registered callback of each convention, calling the program's.
void cdeclCallback(int32_t code, void* data) { programCallback(code, data); }
void ZUQ_STDCALL stdcallCallback(int32_t code, void* data) { programCallback(code, data); }

#if defined(_WIN32) && defined(__i386__)
// Calls `function` with `count` 32-bit arguments pushed right to left, and
// tells from the stack pointer after the call how many bytes of arguments
// the callee took off: all of them (__stdcall) or none (cdecl). The stack
// pointer is put back as it was before the call either way.
struct MeasuredCall {
  void* function;
  const uint32_t* arguments;
  uint32_t count;
};
uint32_t callMeasuring(const MeasuredCall& call, uint32_t* removedBytes) {
  uint32_t result = 0, left = 0;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "movl 8(%%ebx), %%ecx\n\t"
      "movl 4(%%ebx), %%edx\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl -4(%%edx,%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *(%%ebx)\n\t"
      "movl %%esi, %%edi\n\t"
      "subl %%esp, %%edi\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result), "=D"(left)
      : "b"(&call)
      : "ecx", "edx", "esi", "memory", "cc");
  *removedBytes = call.count * 4 - left;
  return result;
}

// Calls operation `index` measuring the stack, and while the convention is
// not known settles it from the first call that takes arguments.
template <typename... A>
int measuredCall(size_t index, A... arguments) {
  const uint32_t words[] = {(uint32_t)(uintptr_t)arguments..., 0};
  const uint32_t count = sizeof...(A);
  uint32_t removed = 0;
  const int result = static_cast<int>(callMeasuring({operations[index], words, count}, &removed));
  if (library.calls == Calls::Unknown && count > 0 && (removed == 0 || removed == count * 4)) {
    library.calls = removed == 0 ? Calls::Cdecl : Calls::Stdcall;
    library.callsFoundBy = std::string("told by the first call, ") + kOperations[index].name +
                           (removed == 0 ? ", which left its arguments on the stack"
                                         : ", which took its arguments off the stack");
  }
  return result;
}
#endif

template <typename... A>
int call(size_t index, A... arguments) {
#if defined(_WIN32) && defined(__i386__)
  // Every call of the 32-bit program pushes its arguments and puts the stack
  // pointer back itself, whichever convention the operation has. Two calls
  // through one pointer that differ only in their convention are one call to
  // GCC 12, which then jumps to a __stdcall operation as to a cdecl one: the
  // operation takes its arguments off the stack, and its caller goes on with
  // a stack pointer that many bytes off, until it returns into its own stack.
  return measuredCall(index, arguments...);
#else
  return reinterpret_cast<int (*)(A...)>(operations[index])(arguments...);
#endif
}

// A problem is one line: the system's words may hold line ends.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return text;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// Why the file at `opened.path` did not load, in the operator's terms.
std::string loadProblem(const platform::OpenedLibrary& opened) {
#ifdef _WIN32
  const std::string file = "the online library " + quoted(opened.path);
  if (opened.notFound) {
    return file +
           " is not there (the program loads it from its own folder only): put the vendor's "
           "ZUQOnl.dll beside ZUQTradeReport.exe";
  }
  const PeHeader header = readPeHeader(opened.path);
  if (header.bits != 0 && header.bits != kProgramBits) {
    return file + " is a " + std::to_string(header.bits) + "-bit DLL; this program is " +
           std::to_string(kProgramBits) + "-bit: use the " +
           (header.bits == 64 ? "win64" : "win32") + " zip";
  }
  if (header.bits == 0 || !header.dll) {
    return file + " is not a DLL (" + opened.reason + "): put the vendor's ZUQOnl.dll there";
  }
  if (opened.systemError == 126) {
    return file + " cannot load: a DLL it needs is missing (" + opened.reason +
           "): put the DLLs of the vendor's installation beside it";
  }
  return file + " cannot load (" + opened.reason + "): put the vendor's ZUQOnl.dll there";
#else
  if (opened.notFound) {
    return std::string("the online library ") + kLibraryFile +
           " is not found (looked for through LD_LIBRARY_PATH, then the program's own library "
           "folder): install the package again, or name the library's folder in "
           "LD_LIBRARY_PATH";
  }
  return "the online library cannot load (" + opened.reason + "): put the vendor's " +
         kLibraryFile + " there";
#endif
}

// Takes the operations by their plain names, else by the decorated names of
// __stdcall exports (_zuqonlOpen@0, zuqonlOpen@0).
void takeOperations(void* handle, std::string& missing, std::string& decorated) {
  for (size_t i = 0; i < kOperationCount; ++i) {
    const Operation& operation = kOperations[i];
    std::vector<std::string> names = {operation.name};
    if (operation.argumentBytes >= 0) {
      const std::string suffix = "@" + std::to_string(operation.argumentBytes);
      names.push_back("_" + std::string(operation.name) + suffix);
      names.push_back(operation.name + suffix);
    }
    for (const std::string& name : names) {
      operations[i] = platform::librarySymbol(handle, name.c_str());
      if (operations[i] == nullptr) continue;
      library.exports[i] = name;
      if (name != operation.name && decorated.empty()) decorated = name;
      break;
    }
    if (operations[i] == nullptr)
      missing += (missing.empty() ? "" : ", ") + std::string(operation.name);
  }
}

}  // namespace

int (*zuqonlPrintf)(const char* format, ...) = nullptr;

bool parseCallsSetting(std::string_view setting, Calls* calls) {
  if (setting.empty()) {
    *calls = Calls::Unknown;
  } else if (setting == "cdecl") {
    *calls = Calls::Cdecl;
  } else if (setting == "stdcall") {
    *calls = Calls::Stdcall;
  } else {
    return false;
  }
  return true;
}

std::string_view callsName(Calls calls) {
  switch (calls) {
    case Calls::Cdecl:
      return "cdecl";
    case Calls::Stdcall:
      return "stdcall";
    case Calls::Unknown:
      break;
  }
  return "unknown";
}

const Library& boundLibrary() { return library; }

const Library& bindLibrary(std::string_view setting) {
  if (attempted) return library;
  attempted = true;
  Calls chosen = Calls::Unknown;
  if (!parseCallsSetting(setting, &chosen)) {
    library.problem = "library_calls '" + std::string(setting) +
                      "' in [options] is neither cdecl nor stdcall: write one of the two, or "
                      "remove the key to let the program find out";
    return library;
  }
  const platform::OpenedLibrary opened = platform::openProgramLibrary(kLibraryFile);
  library.path = opened.path;
  if (opened.handle == nullptr) {
    library.problem = oneLine(loadProblem(opened));
    return library;
  }
  library.exports.assign(kOperationCount, "");
  std::string missing, decorated;
  takeOperations(opened.handle, missing, decorated);
  const std::string file = "the online library " + quoted(library.path);
  if (!missing.empty()) {
    library.problem =
        file + " lacks the operations " + missing +
        (decorated.empty() ? "" : " (it exports " + decorated + ": its operations are __stdcall)") +
        ": it is not the online library this program is made for";
    return library;
  }
  if (!decorated.empty() && !kTwoConventions) {
    library.problem = file + " exports " + decorated +
                      ": its operations are __stdcall, which only a 32-bit program calls; use the "
                      "win32 zip";
    return library;
  }
  std::memcpy(&zuqonlPrintf, &operations[kPrintf], sizeof zuqonlPrintf);
  if (!kTwoConventions) {
    library.calls = Calls::Cdecl;
    library.callsFoundBy =
        "the one convention of a " + std::to_string(kProgramBits) + "-bit program";
  } else if (chosen != Calls::Unknown) {
    library.calls = chosen;
    library.callsFoundBy = "set by library_calls in [options]";
  } else if (!decorated.empty()) {
    library.calls = Calls::Stdcall;
    library.callsFoundBy = "told by its decorated names (" + decorated + ")";
  } else {
    library.callsFoundBy = "undecorated names: told by a run's first call";
  }
  return library;
}

int zuqonlSetIniPath(const char* iniPath) { return call(kSetIniPath, iniPath); }
int zuqonlIdentify(const char* user, const char* password, const char* application) {
  return call(kIdentify, user, password, application);
}
int zuqonlRegisterCallback(ZuqonlCallback callback) {
  // The library calls back with its own convention, whatever the program's
  // callback has; still unknown, it is the C default.
  programCallback = callback;
  if (callback == nullptr) return call(kRegisterCallback, callback);
  if (library.calls == Calls::Stdcall) return call(kRegisterCallback, &stdcallCallback);
  return call(kRegisterCallback, &cdeclCallback);
}
int zuqonlOpen() { return call(kOpen); }
int zuqonlOpenConnection(int32_t kind, const char* table, const char* columns,
                         const char* keyColumn, const char* from, const char* to, int32_t flags) {
  return call(kOpenConnection, kind, table, columns, keyColumn, from, to, flags);
}
int zuqonlCloseConnection(int32_t conn) { return call(kCloseConnection, conn); }
int zuqonlClose() { return call(kClose); }
int zuqonlStringToDateTime(const char* text, DateTimeValue* value) {
  return call(kStringToDateTime, text, value);
}

PeHeader readPeHeader(const std::string& path) {
  PeHeader header;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return header;
  auto readAt = [file](long offset, unsigned char* bytes, size_t count) {
    return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(bytes, 1, count, file) == count;
  };
  auto word = [](const unsigned char* at) { return static_cast<uint32_t>(at[0] | at[1] << 8); };
  unsigned char dos[64];
  // The DOS header's "MZ", and at 0x3C the offset of "PE\0\0", which is
  // followed by the file header (20 bytes) and the optional header's magic.
  if (readAt(0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z') {
    const uint32_t peOffset = word(dos + 0x3C) | word(dos + 0x3E) << 16;
    unsigned char pe[4 + 20 + 2];
    if (peOffset >= sizeof dos && peOffset < (1u << 24) &&
        readAt(static_cast<long>(peOffset), pe, sizeof pe) && std::memcmp(pe, "PE\0\0", 4) == 0) {
      const uint32_t characteristics = word(pe + 4 + 18);
      const uint32_t magic = word(pe + 24);
      header.bits = magic == 0x10B ? 32 : magic == 0x20B ? 64 : 0;
      header.dll = (characteristics & 0x2000) != 0;
    }
  }
  std::fclose(file);
  return header;
}

}  // namespace online
