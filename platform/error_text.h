// The one translation of a system or socket error into the words of a log
// line or an error text, the same on every platform.
#pragma once

#include <string>
#include <system_error>

namespace platform {

// The system's description of `error` without the full stop and line end
// that Windows puts after it, so that a message reads the same on every
// platform ("cannot connect: Connection refused; retrying ..."). Any thread.
std::string errorText(const std::error_code& error);

// The same for an errno value; kNotRegularFile (regular_file.h) reads
// "not a regular file". Any thread.
std::string errnoText(int error);

}  // namespace platform
