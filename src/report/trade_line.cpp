#include "report/trade_line.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

struct StatusName {
  int32_t status;
  const char* mnemonic;
};

constexpr StatusName kStatusNames[] = {
    {1, "NEW"},  {2, "COM"},  {3, "VXI"},  {4, "VXC"},  {5, "CXL"},  {11, "DEL"},
    {12, "ONE"}, {14, "NEI"}, {18, "COB"}, {19, "BAC"}, {21, "BAA"}, {22, "BAX"},
    {23, "BAY"}, {24, "NEO"}, {25, "EOM"}, {26, "EOA"},
};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// printf's "%0<width>d": at least `width` characters, zeros between the sign
// and the digits, never cut. `out` holds at least 24 characters.
size_t formatPaddedAny(char* out, int64_t value, int width) {
  char digits[24];
  const uint64_t magnitude =
      value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const size_t count =
      static_cast<size_t>(std::to_chars(digits, digits + 24, magnitude).ptr - digits);
  size_t at = 0;
  if (value < 0) out[at++] = '-';
  for (size_t used = at + count; used < static_cast<size_t>(width); ++used) out[at++] = '0';
  for (size_t i = 0; i < count; ++i) out[at++] = digits[i];
  return at;
}

constexpr uint32_t powerOfTen(int exponent) {
  return exponent == 0 ? 1 : 10 * powerOfTen(exponent - 1);
}

// The same for a width known here; its common case, digits that fill the
// width exactly, is written two digits at a time.
template <int Width>
size_t formatPadded(char* out, int64_t value) {
  static_assert(Width >= 1 && Width <= 9);
  if (value < 0 || value >= powerOfTen(Width)) return formatPaddedAny(out, value, Width);
  auto rest = static_cast<uint32_t>(value);
  int at = Width;
  for (; at >= 2; at -= 2, rest /= 100)
    std::memcpy(out + at - 2, kDigitPairs + 2 * (rest % 100), 2);
  if (at == 1) out[0] = static_cast<char>('0' + rest);
  return Width;
}

}  // namespace

const char* statusMnemonic(int32_t status) {
  for (const StatusName& name : kStatusNames) {
    if (name.status == status) return name.mnemonic;
  }
  return "???";
}

void writeField(ReportFile& file, std::string_view text, std::string_view delimiter) {
  writeText(file, text);
  writeText(file, delimiter);
}

namespace {

// The most bytes a line writes besides its texts and delimiters: the status
// mnemonic, two dates and a time of 16-bit fields, the 32-bit "Trans" and
// the line end.
constexpr size_t kMostFixedBytes = 3 + 2 * (3 * 5 + 2) + (3 * 5 + 2) + 11 + 2;
constexpr int kDelimiters = 18;

// `text` at `out`, each line feed as CR LF; returns the end.
char* put(char* out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') *out++ = '\r';
    *out++ = c;
  }
  return out;
}

char* putDate(char* out, const DateTimeValue& value, int32_t dateFormat) {
  if (dateFormat == 0) {
    out += formatPadded<4>(out, value.year);
    out += formatPadded<2>(out, value.month);
    return out + formatPadded<2>(out, value.day);
  }
  out += formatPadded<2>(out, value.day);
  *out++ = '/';
  out += formatPadded<2>(out, value.month);
  *out++ = '/';
  return out + formatPadded<4>(out, value.year);
}

char* putTime(char* out, const DateTimeValue& value) {
  out += formatPadded<2>(out, value.hour);
  *out++ = ':';
  out += formatPadded<2>(out, value.minute);
  *out++ = ':';
  return out + formatPadded<2>(out, value.second);
}

// `text` at `out` as it is; returns the end.
char* putWhole(char* out, std::string_view text) {
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// The line without its line end at `out`, each text and delimiter written by
// `putText`; returns the end.
template <typename PutText>
char* putLine(char* out, const KeptTrade& line, std::string_view delimiter, int32_t dateFormat,
              PutText putText) {
  const std::string_view* t = line.texts;
  // Most reports have a one-byte delimiter, usually ";".
  const bool oneByte = delimiter.size() == 1 && delimiter[0] != '\n';
  auto delimit = [&] { out = oneByte ? (*out = delimiter[0], out + 1) : putText(out, delimiter); };
  auto field = [&](std::string_view text) {
    out = putText(out, text);
    delimit();
  };
  field(t[kIssueText]);
  field(t[kActText]);
  field(statusMnemonic(line.status));
  for (int i = kCustomerText; i <= kCurrText; ++i) field(t[i]);
  out = putDate(out, line.deliveryDate, dateFormat);
  delimit();
  out += formatPadded<9>(out, line.rowID);
  delimit();
  out = putDate(out, line.tradeMoment, dateFormat);
  delimit();
  out = putTime(out, line.tradeMoment);
  delimit();
  for (int i = kClrText; i <= kRepurchaseText; ++i) field(t[i]);
  return putText(out, t[kMemoText]);
}

}  // namespace

void writeDate(ReportFile& file, const DateTimeValue& value, int32_t dateFormat) {
  char text[40];
  writeText(file,
            std::string_view(text, static_cast<size_t>(putDate(text, value, dateFormat) - text)));
}

void writeTime(ReportFile& file, const DateTimeValue& value) {
  char text[40];
  writeText(file, std::string_view(text, static_cast<size_t>(putTime(text, value) - text)));
}

void writeTradeLine(ReportFile& file, const KeptTrade& line, std::string_view delimiter,
                    int32_t dateFormat) {
  // The bound counts every byte of a text twice, as if each were a line feed.
  size_t most = kMostFixedBytes + 2 * kDelimiters * delimiter.size();
  for (std::string_view text : line.texts) most += 2 * text.size();
  if (!makeRoom(file, most)) {
    // A line larger than the buffer (a huge memo) is put together apart.
    std::string whole(most, '\0');
    char* const end = putLine(whole.data(), line, delimiter, dateFormat, put);
    whole.resize(static_cast<size_t>(end - whole.data()));
    writeBytes(file, whole);
    writeLineEnd(file);
    return;
  }
  // The common case is written in one go, without a check per field: texts
  // are copied whole, then the line is looked through once for a line feed;
  // the rare line that holds one is written again, translated.
  char* const start = file.buffer.get() + file.used;
  char* out = putLine(start, line, delimiter, dateFormat, putWhole);
  if (std::memchr(start, '\n', static_cast<size_t>(out - start)) != nullptr) {
    out = putLine(start, line, delimiter, dateFormat, put);
  }
  *out++ = '\r';
  *out++ = '\n';
  file.used += static_cast<size_t>(out - start);
}
