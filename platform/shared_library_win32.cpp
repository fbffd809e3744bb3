#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/shared_library.h"

namespace platform {

namespace {

std::string ansi(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string text(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes,
                        nullptr, nullptr);
  }
  return text;
}

// The full path of the running program, however long.
std::wstring programPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

std::string systemWords(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.'))
    words.pop_back();
  // Messages that name the file leave "%1" for it (no inserts are given).
  for (size_t at = words.find(L"%1"); at != std::wstring::npos; at = words.find(L"%1", at)) {
    words.replace(at, 2, L"the file");
  }
  return "Windows error " + std::to_string(error) + (words.empty() ? "" : ": " + ansi(words));
}

const char* faultPrefix = "";

// Written with the stack the fault left: no allocation, one write.
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const DWORD code = record->ExceptionCode;
  const void* address = record->ExceptionAddress;
  char module[MAX_PATH] = "an unknown module";
  HMODULE owner = nullptr;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<const char*>(address), &owner) &&
      GetModuleFileNameA(owner, module, sizeof module) > 0) {
    module[sizeof module - 1] = '\0';
  }
  const char* name = module;
  for (const char* at = module; *at != '\0'; ++at) {
    if (*at == '\\' || *at == '/') name = at + 1;
  }
  char line[512 + MAX_PATH];
  const int length = std::snprintf(
      line, sizeof line,
      "%sthe program stopped on a fault (0x%08lX at 0x%p in %s), exit status %ld\n", faultPrefix,
      static_cast<unsigned long>(code), address, name, static_cast<long>(code));
  DWORD written = 0;
  if (length > 0) {
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line,
              static_cast<DWORD>(length < static_cast<int>(sizeof line) ? length : sizeof line - 1),
              &written, nullptr);
  }
  TerminateProcess(GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

OpenedLibrary openProgramLibrary(const char* name) {
  OpenedLibrary opened;
  std::wstring path = programPath();
  const size_t folderEnd = path.find_last_of(L"\\/");
  path.resize(folderEnd == std::wstring::npos ? 0 : folderEnd + 1);
  const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  std::wstring wideName(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, name, -1, wideName.data(), length);
  if (!wideName.empty()) wideName.pop_back();  // the terminator
  path += wideName;
  opened.path = ansi(path);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    opened.notFound = true;
    opened.reason = attributes == INVALID_FILE_ATTRIBUTES ? systemWords(GetLastError())
                                                          : "a folder of that name";
    return opened;
  }
  // A full path: the file beside the program and no other. Its own
  // dependencies are looked for in its folder first.
  opened.handle =
      reinterpret_cast<void*>(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (opened.handle == nullptr) {
    opened.systemError = GetLastError();
    opened.reason = systemWords(opened.systemError);
  }
  return opened;
}

void* librarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void reportFaults(const char* prefix) {
  faultPrefix = prefix;
  constexpr UINT kQuiet = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
  SetErrorMode(kQuiet);
  DWORD before = 0;
  SetThreadErrorMode(kQuiet, &before);
  SetUnhandledExceptionFilter(onUnhandledException);
}

}  // namespace platform
