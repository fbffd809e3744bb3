// Reading settings from INI files, with the behaviour of the Windows profile
// calls (GetPrivateProfileStringA / GetPrivateProfileIntA) on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The path that names the INI file `fileName` of the current folder in this
// platform's native spelling: "./NAME" on POSIX, ".\NAME" on Windows. Never
// the bare name, which the system's own profile calls on Windows look for in
// the Windows folder; a library reading the file through them finds it here.
std::string profilePathInCurrentFolder(std::string_view fileName);

// The largest INI file read; no real one comes near. A larger file, and
// anything that is not a regular file (a FIFO, a device such as /dev/zero),
// reads as a missing file.
inline constexpr uint64_t kMaxProfileBytes = 16 * 1024 * 1024;

// The encoding of an INI file whose first bytes are `start` when this reader
// does not read it: "UTF-16 LE" or "UTF-16 BE" after that byte-order mark (an
// editor's "Unicode"); such a file reads as a missing file. Null for any
// other start: the file is read as bytes, its values taken in the system's
// ANSI code page (a file in UTF-8 without a byte-order mark too, byte for
// byte; that mark itself is skipped).
const char* unreadableProfileEncoding(std::string_view start);

// Copies the value of `key` in `section` of the INI file at `path` into
// `buffer` (at most size - 1 bytes, always NUL-terminated when size > 0) and
// returns the number of bytes copied. A missing file, section or key copies
// `defaultValue` (null reads as "") with its trailing spaces removed.
// size 0 leaves the buffer untouched and returns 0.
uint32_t getProfileString(const char* section, const char* key, const char* defaultValue,
                          char* buffer, uint32_t size, const char* path);

// The value of `key` converted to an integer: optional blanks, sign, then
// decimal digits (or a 0x / 0o / 0b prefix) up to the first non-digit, modulo
// 2^32; no digits give 0. A missing file, section or key, or an empty value,
// gives `defaultValue` as an unsigned 32-bit value.
uint32_t getProfileInt(const char* section, const char* key, int32_t defaultValue,
                       const char* path);

// The keys of one section of an INI file, as the profile calls would find
// them: the first section of that name only, each key name once (the first
// of several spellings that match), in the order of the file.
struct ProfileKeys {
  bool fileRead = false;      // the file could be read (see getProfileString)
  bool sectionFound = false;  // the section is in it
  std::vector<std::string> keys;
};
ProfileKeys readProfileKeys(const char* section, const char* path);

// An INI file read once: the same answers as the calls above would give for
// the file as it was when read, without reading it again for every key. A
// file that cannot be read (see getProfileString) answers as a missing one.
class Profile {
 public:
  static Profile read(const char* path);

  bool fileRead() const { return fileRead_; }
  // As getProfileString and getProfileInt.
  uint32_t getString(const char* section, const char* key, const char* defaultValue, char* buffer,
                     uint32_t size) const;
  uint32_t getInt(const char* section, const char* key, int32_t defaultValue) const;
  // getString into a buffer of `size` bytes, as a string.
  std::string text(const char* section, const char* key, const char* defaultValue,
                   uint32_t size = 256) const;
  // As readProfileKeys.
  ProfileKeys keys(const char* section) const;
  // The names of the file's sections, blanks trimmed, each spelling once
  // (ignoring case), in the order of the file.
  std::vector<std::string> sectionNames() const;

 private:
  bool fileRead_ = false;
  std::string content_;
};

// Whether `name` is one of `known`, matched as the profile calls match key
// names (ignoring ASCII case).
bool isKnownKey(std::string_view name, const std::vector<std::string_view>& known);

// The number of letters added, dropped, changed or swapped that turns `a`
// into `b`, ignoring ASCII case.
size_t nameDistance(std::string_view a, std::string_view b);

// Of `known` key names, the one nearest to `name` (fewest letters added,
// dropped, changed or swapped, ignoring case) when it is near enough to be
// a misspelling of it; empty otherwise.
std::string nearestKey(std::string_view name, const std::vector<std::string_view>& known);

}  // namespace platform
