#include "dataserver/log_text.h"

#include <cstddef>

namespace dataserver {

namespace {

std::string hexEscaped(std::string_view text, bool escapeQuote) {
  constexpr size_t kMaxShown = 200;
  constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte >= 0x7f || byte == '\\' || (escapeQuote && byte == '\'')) {
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 15];
    } else {
      out += static_cast<char>(byte);
    }
  }
  if (text.size() > kMaxShown) out += "...";
  return out;
}

}  // namespace

std::string escapedForLog(std::string_view text) { return hexEscaped(text, false); }

std::string quotedForLog(std::string_view text) { return "'" + hexEscaped(text, true) + "'"; }

std::string controlsMasked(std::string_view text) {
  constexpr size_t kMaxShown = 64;
  std::string out;
  for (size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    out += (byte < 0x20 || byte == 0x7f) ? '?' : text[i];
  }
  if (text.size() > kMaxShown) out += "...";
  return out;
}

}  // namespace dataserver
