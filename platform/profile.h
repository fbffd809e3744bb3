// Reading settings from INI files, with the behaviour of the Windows profile
// calls (GetPrivateProfileStringA / GetPrivateProfileIntA) on every platform.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// The program's INI file when none is named on the command line, in this
// platform's native spelling of ".\ZUQTradeReport.ini".
extern const char kDefaultIniPath[];

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

}  // namespace platform
