#include "platform/error_text.h"

#include "platform/regular_file.h"

namespace platform {

std::string errorText(const std::error_code& error) {
  std::string text = error.message();
  while (!text.empty() &&
         (text.back() == '.' || text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string errnoText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  return errorText(std::error_code(error, std::generic_category()));
}

}  // namespace platform
