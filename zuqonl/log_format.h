// The formatting of zuqonlPrintf's common texts without the C library's
// general printf machinery: a program may log a line for every row it is
// delivered, and such lines use only a few plain conversions.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace zuqonl {

// Formats `format` into `out` as vsnprintf would, when the format holds no
// conversions but %d, %i, %u, %s and %% (no flags, width, precision or length
// modifier), no %s is given a null pointer, and the text with its NUL fits in
// `capacity` bytes. Returns the text's length; -1 for any other format or
// text, which the caller then formats with vsnprintf from its own copy of the
// arguments, since `args` has been consumed in part.
int formatSimple(char* out, size_t capacity, const char* format, va_list args);

}  // namespace zuqonl
