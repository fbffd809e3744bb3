// Paths on Windows: the ANSI calls, so that a path stays in the ANSI code
// page from the INI file to the file calls; GetFullPathNameA does the
// normalising.
#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/errno_win32.h"
#include "platform/paths.h"

namespace platform {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool hasDrive(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

// The text of `file` before its name: its folder with the separator after
// it, a bare drive ("C:") or nothing.
std::string folderPrefix(const std::string& file) {
  const size_t separator = file.find_last_of("\\/");
  if (separator != std::string::npos) return file.substr(0, separator + 1);
  return hasDrive(file) ? file.substr(0, 2) : "";
}

// `path` made absolute against the current folder (of its drive) and
// normalised; as it is when the system can't do that.
std::string fullPath(const std::string& path) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return path;
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length);
  }
}

}  // namespace

std::string pathBesideFile(const std::string& file, const std::string& path) {
  if (path.empty()) return path;
  std::string joined = path;
  if (isSeparator(path[0])) {
    const bool unc = path.size() > 1 && isSeparator(path[1]);
    if (!unc && hasDrive(file)) joined = file.substr(0, 2) + path;
  } else if (!hasDrive(path)) {
    joined = folderPrefix(file) + path;
  }
  return fullPath(joined);
}

int folderReadError(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return errnoOf(GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
  const bool separated = !path.empty() && isSeparator(path.back());
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((path + (separated ? "*" : "\\*")).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    // A drive's empty root lists nothing at all, not even "." and "..".
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : errnoOf(error);
  }
  FindClose(search);
  return 0;
}

namespace {

// The volume and index that tell a file apart from every other, through
// any of its names; false when `path` names nothing that can be opened.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  const HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(handle, info) != 0;
  CloseHandle(handle);
  return known;
}

}  // namespace

int folderWriteError(const std::string& path) {
  if (const int error = folderReadError(path); error != 0) return error;
  const bool separated = !path.empty() && isSeparator(path.back());
  const std::string probe = path + (separated ? "" : "\\") + "ZUQTradeReport-check-" +
                            std::to_string(GetCurrentProcessId()) + ".tmp";
  const HANDLE handle = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return errnoOf(GetLastError());
  CloseHandle(handle);
  return 0;
}

int fileWriteError(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return errnoOf(GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    return kNotARegularFile;
  }
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return errnoOf(GetLastError());
  CloseHandle(handle);
  return 0;
}

bool sameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return fileIdentity(a, &first) && fileIdentity(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace platform
