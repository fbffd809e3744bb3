#include "log_format.h"

#include <cstring>

namespace zuqonl {
namespace {

// Appends to a buffer of fixed size, keeping room for the final NUL.
class Output {
 public:
  Output(char* out, size_t capacity) : at_(out), end_(out + capacity) {}

  bool put(const char* text, size_t size) {
    if (size >= static_cast<size_t>(end_ - at_)) return false;
    std::memcpy(at_, text, size);
    at_ += size;
    return true;
  }

  // The decimal digits of `value`, after a '-' when `negative`.
  bool putDecimal(unsigned value, bool negative) {
    char digits[16];
    char* first = digits + sizeof digits;
    do {
      *--first = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (negative) *--first = '-';
    return put(first, static_cast<size_t>(digits + sizeof digits - first));
  }

  char* at() const { return at_; }

 private:
  char* at_;
  char* end_;
};

}  // namespace

int formatSimple(char* out, size_t capacity, const char* format, va_list args) {
  if (capacity == 0) return -1;
  Output output(out, capacity);
  for (const char* p = format;;) {
    const char* percent = std::strchr(p, '%');
    const size_t literal = percent != nullptr ? static_cast<size_t>(percent - p) : std::strlen(p);
    if (!output.put(p, literal)) return -1;
    if (percent == nullptr) break;
    bool fits = false;
    switch (percent[1]) {
      case '%':
        fits = output.put("%", 1);
        break;
      case 'd':
      case 'i': {
        const int value = va_arg(args, int);
        // Negated in unsigned arithmetic, which holds the magnitude of INT_MIN.
        const unsigned magnitude =
            value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        fits = output.putDecimal(magnitude, value < 0);
        break;
      }
      case 'u':
        fits = output.putDecimal(va_arg(args, unsigned), false);
        break;
      case 's': {
        // A null pointer is left to vsnprintf, whose text for it differs
        // between C libraries.
        const char* text = va_arg(args, const char*);
        fits = text != nullptr && output.put(text, std::strlen(text));
        break;
      }
      default:
        return -1;
    }
    if (!fits) return -1;
    p = percent + 2;
  }
  *output.at() = '\0';
  return static_cast<int>(output.at() - out);
}

}  // namespace zuqonl
