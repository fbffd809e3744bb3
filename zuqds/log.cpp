#include "zuqds/log.h"

#include <cstdio>

namespace zuqds {

void logLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

namespace {

std::string escaped(std::string_view text, bool escapeQuote) {
  constexpr size_t kMaxShown = 200;
  const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte >= 0x7f || byte == '\\' || (escapeQuote && byte == '\'')) {
      out += "\\x";
      out += digits[byte >> 4];
      out += digits[byte & 15];
    } else {
      out += static_cast<char>(byte);
    }
  }
  if (text.size() > kMaxShown) out += "...";
  return out;
}

}  // namespace

std::string printable(std::string_view text) { return escaped(text, false); }

std::string inQuotes(std::string_view text) { return "'" + escaped(text, true) + "'"; }

}  // namespace zuqds
