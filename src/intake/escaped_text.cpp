#include "intake/escaped_text.h"

std::string escapeControlBytes(const char* text) {
  std::string escaped;
  for (const char* at = text ? text : ""; *at != '\0'; ++at) {
    const unsigned char byte = static_cast<unsigned char>(*at);
    if (byte >= 0x20 && byte != 0x7F) {
      escaped += *at;
    } else if (byte == '\n' || byte == '\r' || byte == '\t') {
      escaped += byte == '\n' ? "\\n" : byte == '\r' ? "\\r" : "\\t";
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      escaped += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return escaped;
}
