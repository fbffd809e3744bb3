// INI reading with the Windows profile-call behaviour, on every platform: one
// reader, so that an INI file reads the same on Windows and POSIX.
//
// The file is read afresh on every call, so a caller always sees the file as it
// is now (an edited or deleted file takes effect at the next call); a Profile
// holds one reading for a caller that asks many questions of it. Nothing is
// shared between calls, so every function here is safe to call from any
// thread.
#include "platform/profile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/regular_file.h"

namespace platform {

namespace {

// The blanks trimmed from every line and around names and values.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Caller-supplied section and key names lose only their surrounding spaces; a
// TAB or line break in them is part of the name and so never matches.
std::string_view trimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

// The whole file, or nothing when it is missing, unreadable, no regular
// file, larger than kMaxProfileBytes or in UTF-16. A bare file name is opened
// relative to the current directory.
std::optional<std::string> readWholeFile(const char* path) {
  if (path == nullptr) return std::nullopt;
  int error = 0;
  std::FILE* file = openRegularFile(path, &error);
  if (file == nullptr) return std::nullopt;
  std::string content;
  char chunk[16384];
  size_t got;
  while (content.size() <= kMaxProfileBytes &&
         (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    content.append(chunk, got);
  }
  const bool failed = std::ferror(file) != 0 || content.size() > kMaxProfileBytes;
  std::fclose(file);
  // Read as bytes, a UTF-16 file would give nothing but names that never
  // match; it is kept out on purpose instead. Taking it in would need a code
  // page to turn its letters into, and the library refuses it anyway.
  if (failed || unreadableProfileEncoding(content) != nullptr) return std::nullopt;
  return content;
}

// Hands out the lines of `text` one at a time; a line ends at CR LF, CR or LF.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  bool next(std::string_view* line) {
    if (rest_.empty()) return false;
    const size_t end = rest_.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      *line = rest_;
      rest_ = {};
      return true;
    }
    *line = rest_.substr(0, end);
    const bool crlf = rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n';
    rest_.remove_prefix(end + (crlf ? 2 : 1));
    return true;
  }

 private:
  std::string_view rest_;
};

// The name of a section header line (already trimmed, starting with '['): up
// to the first ']', or to the line end when there is none; blanks trimmed.
std::string_view headerName(std::string_view line) {
  std::string_view name = line.substr(1);
  const size_t close = name.find(']');
  if (close != std::string_view::npos) name = name.substr(0, close);
  return trimBlanks(name);
}

// One matching outer pair of ' or " is taken off; a lone quote stays.
std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Calls `visit` with every key line (name, value) of the first section called
// `section` of `text`, in order; false when there is no such section. Lines
// before the first header belong to no section, and a later section with the
// same name is never searched.
template <typename Visit>
bool forEachKey(std::string_view text, std::string_view section, Visit visit) {
  static constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
  LineReader lines(text);
  std::string_view line;
  bool inSection = false;
  bool found = false;
  while (lines.next(&line)) {
    line = trimBlanks(line);
    if (!line.empty() && line.front() == '[') {
      if (inSection) return true;
      inSection = sameName(headerName(line), section);
      found = found || inSection;
      continue;
    }
    if (!inSection || line.empty() || line.front() == ';') continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    visit(trimBlanks(line.substr(0, equals)), unquote(trimBlanks(line.substr(equals + 1))));
  }
  return found;
}

// The value of `key` in the first section called `section`, as a view into
// `text`. Lines before the first header belong to no section; a later section
// with the same name is never searched; the first matching key wins.
std::optional<std::string_view> findValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  std::optional<std::string_view> value;
  forEachKey(text, section, [&](std::string_view name, std::string_view each) {
    if (!value && sameName(name, key)) value = each;
  });
  return value;
}

// The stored value in the file's `content`, or nothing when the section or
// key is missing. Values of 64 KiB and more wrap their length modulo 65536,
// as the Windows profile calls do.
std::optional<std::string_view> lookUp(std::string_view content, const char* section,
                                       const char* key) {
  if (section == nullptr || key == nullptr) return std::nullopt;
  std::optional<std::string_view> value = findValue(content, trimSpaces(section), trimSpaces(key));
  if (!value) return std::nullopt;
  return value->substr(0, value->size() % 65536);
}

uint32_t copyOut(std::string_view text, char* buffer, uint32_t size) {
  if (size == 0 || buffer == nullptr) return 0;
  const size_t count = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<uint32_t>(count);
}

uint32_t digitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'z') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'Z') return static_cast<uint32_t>(c - 'A' + 10);
  return 36;  // never a digit in any base used here
}

// Optional blanks, an optional sign, an optional 0x / 0o / 0b prefix, then
// digits of that base up to the first other character. Unsigned arithmetic
// gives the wrap modulo 2^32 for free.
uint32_t toInteger(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && isBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  uint32_t base = 10;
  if (pos + 1 < text.size() && text[pos] == '0') {
    const char kind = text[pos + 1];
    base = kind == 'x' ? 16 : kind == 'o' ? 8 : kind == 'b' ? 2 : 10;
    if (base != 10) pos += 2;
  }
  uint32_t result = 0;
  for (; pos < text.size() && digitValue(text[pos]) < base; ++pos) {
    result = result * base + digitValue(text[pos]);
  }
  return negative ? 0u - result : result;
}

}  // namespace

const char* unreadableProfileEncoding(std::string_view start) {
  if (start.starts_with("\xFF\xFE")) return "UTF-16 LE";
  if (start.starts_with("\xFE\xFF")) return "UTF-16 BE";
  return nullptr;
}

uint32_t getProfileString(const char* section, const char* key, const char* defaultValue,
                          char* buffer, uint32_t size, const char* path) {
  if (size == 0) return 0;
  return Profile::read(path).getString(section, key, defaultValue, buffer, size);
}

uint32_t getProfileInt(const char* section, const char* key, int32_t defaultValue,
                       const char* path) {
  return Profile::read(path).getInt(section, key, defaultValue);
}

ProfileKeys readProfileKeys(const char* section, const char* path) {
  return Profile::read(path).keys(section);
}

Profile Profile::read(const char* path) {
  Profile profile;
  if (std::optional<std::string> content = readWholeFile(path)) {
    profile.fileRead_ = true;
    profile.content_ = std::move(*content);
  }
  return profile;
}

uint32_t Profile::getString(const char* section, const char* key, const char* defaultValue,
                            char* buffer, uint32_t size) const {
  if (size == 0) return 0;
  if (fileRead_) {
    if (const std::optional<std::string_view> value = lookUp(content_, section, key)) {
      return copyOut(*value, buffer, size);
    }
  }
  std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  return copyOut(fallback, buffer, size);
}

uint32_t Profile::getInt(const char* section, const char* key, int32_t defaultValue) const {
  const std::optional<std::string_view> value =
      fileRead_ ? lookUp(content_, section, key) : std::nullopt;
  if (!value || value->empty()) return static_cast<uint32_t>(defaultValue);
  return toInteger(*value);
}

std::string Profile::text(const char* section, const char* key, const char* defaultValue,
                          uint32_t size) const {
  std::string buffer(size, '\0');
  buffer.resize(getString(section, key, defaultValue, buffer.data(), size));
  return buffer;
}

ProfileKeys Profile::keys(const char* section) const {
  ProfileKeys result;
  if (!fileRead_ || section == nullptr) return result;
  result.fileRead = true;
  result.sectionFound = forEachKey(content_, trimSpaces(section), [&](std::string_view key, auto) {
    for (const std::string& seen : result.keys) {
      if (sameName(seen, key)) return;
    }
    result.keys.emplace_back(key);
  });
  return result;
}

std::vector<std::string> Profile::sectionNames() const {
  std::vector<std::string> names;
  if (!fileRead_) return names;
  std::string_view text = content_;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  LineReader lines(text);
  std::string_view line;
  while (lines.next(&line)) {
    line = trimBlanks(line);
    if (line.empty() || line.front() != '[') continue;
    const std::string_view name = headerName(line);
    if (std::none_of(names.begin(), names.end(),
                     [&](const std::string& seen) { return sameName(seen, name); })) {
      names.emplace_back(name);
    }
  }
  return names;
}

bool isKnownKey(std::string_view name, const std::vector<std::string_view>& known) {
  return std::any_of(known.begin(), known.end(),
                     [&](std::string_view each) { return sameName(name, each); });
}

// Optimal string alignment distance over ASCII case-folded letters.
size_t nameDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const bool same = asciiLower(a[i - 1]) == asciiLower(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && asciiLower(a[i - 1]) == asciiLower(b[j - 2]) &&
          asciiLower(a[i - 2]) == asciiLower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string nearestKey(std::string_view name, const std::vector<std::string_view>& known) {
  // Names of INI keys are short; longer ones bound the work.
  if (name.size() > 64) return "";
  std::string_view best;
  size_t bestDistance = 0;
  for (std::string_view candidate : known) {
    const size_t each = nameDistance(name, candidate);
    if (best.empty() || each < bestDistance) {
      best = candidate;
      bestDistance = each;
    }
  }
  // A third of the key's letters, at least two: "trade_particpant", "option",
  // "report_flie" are near; "colour" is near nothing.
  const size_t allowed = std::max<size_t>(2, best.size() / 3);
  return !best.empty() && bestDistance <= allowed ? std::string(best) : std::string();
}

}  // namespace platform
