// Reading settings from INI files, with the behaviour of the Windows profile
// calls (GetPrivateProfileStringA / GetPrivateProfileIntA) on every platform.
#pragma once

#include <cstdint>

namespace platform {

// The program's INI file when none is named on the command line, in this
// platform's native spelling of ".\ZUQTradeReport.ini".
extern const char kDefaultIniPath[];

// The largest INI file read; no real one comes near. A larger file, and
// anything that is not a regular file (a FIFO, a device such as /dev/zero),
// reads as a missing file.
inline constexpr uint64_t kMaxProfileBytes = 16 * 1024 * 1024;

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
