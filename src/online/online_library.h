// The program's binding to the online-access library: the notification
// records as the library's public header declares them, and its nine
// operations, taken by name from the library loaded when the run starts. The
// program reaches the library through this header alone, and calls it only
// once bindLibrary has bound it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zuqonl.h"

namespace online {

// The library's file: beside the program on Windows, where the loader looks
// for the program's libraries elsewhere.
#ifdef _WIN32
inline constexpr char kLibraryFile[] = "ZUQOnl.dll";
#else
inline constexpr char kLibraryFile[] = "libzuqonl.so";
#endif

// The nine operations, in the order of zuqonl.h, and the bytes of arguments
// each takes (what a __stdcall export's decorated name ends with); -1 for
// zuqonlPrintf, always cdecl.
struct Operation {
  const char* name;
  int argumentBytes;
};
inline constexpr Operation kOperations[] = {
    {"zuqonlSetIniPath", 4}, {"zuqonlIdentify", 12},       {"zuqonlRegisterCallback", 4},
    {"zuqonlOpen", 0},       {"zuqonlOpenConnection", 28}, {"zuqonlCloseConnection", 4},
    {"zuqonlClose", 0},      {"zuqonlPrintf", -1},         {"zuqonlStringToDateTime", 8},
};
inline constexpr size_t kOperationCount = sizeof kOperations / sizeof kOperations[0];

// How the library's operations take their arguments. Only a 32-bit Windows
// program has the two; elsewhere every operation is Cdecl.
enum class Calls { Cdecl, Stdcall, Unknown };

// What the program's bitness is, and whether it has the two conventions.
inline constexpr int kProgramBits = sizeof(void*) * 8;
#if defined(_WIN32) && defined(__i386__)
inline constexpr bool kTwoConventions = true;
#else
inline constexpr bool kTwoConventions = false;
#endif

struct Library {
  // The file loaded, or tried (on Windows always the full path).
  std::string path;
  // Empty once the library is bound; otherwise what the operator reads after
  // "No report: " (or "problem: "): what is wrong and what to do.
  std::string problem;
  // The name each operation was found under (kOperations' order).
  std::vector<std::string> exports;
  Calls calls = Calls::Unknown;
  // How `calls` was settled: by library_calls, by decorated names, by the
  // first call, or by the platform's one convention.
  std::string callsFoundBy;
};

// The convention library_calls asks for: "" (found out), "cdecl" or "stdcall".
// Returns false for any other value.
bool parseCallsSetting(std::string_view setting, Calls* calls);

// Loads the library (platform::openProgramLibrary) and takes its nine
// operations; `setting` is library_calls as the INI file holds it. Binds
// once: a later call returns the first result. The program's own thread,
// before any operation is called.
const Library& bindLibrary(std::string_view setting);

// The library bound, with its convention as far as it is known: a 32-bit
// program of undecorated names learns it at the first call.
const Library& boundLibrary();

// "cdecl", "stdcall", or "unknown".
std::string_view callsName(Calls calls);

// The operations, as zuqonl.h describes them. Each calls the bound library
// with its convention; the callback is registered with the library's.
int zuqonlSetIniPath(const char* iniPath);
int zuqonlIdentify(const char* user, const char* password, const char* application);
int zuqonlRegisterCallback(ZuqonlCallback callback);
int zuqonlOpen();
int zuqonlOpenConnection(int32_t kind, const char* table, const char* columns,
                         const char* keyColumn, const char* from, const char* to, int32_t flags);
int zuqonlCloseConnection(int32_t conn);
int zuqonlClose();
int zuqonlStringToDateTime(const char* text, DateTimeValue* value);
// Always cdecl: a variable argument list.
extern int (*zuqonlPrintf)(const char* format, ...) ZUQONL_PRINTF_LIKE;

// Where the library's file is one (PE) Windows program file: its bitness (32
// or 64), whether it is a DLL; `bits` 0 when the file is no PE file at all.
// Reads at most the headers, every offset bounded by the file's size.
struct PeHeader {
  int bits = 0;
  bool dll = false;
};
PeHeader readPeHeader(const std::string& path);

}  // namespace online
