// Reads arbitrary bytes as an INI file through the profile calls: the reader
// must neither crash nor overrun the caller's buffer, and every value it
// copies must end with its NUL within the buffer's size.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/profile.h"
#include "testsupport/temp_dir.h"

namespace {

// The file the inputs are written to, in a folder removed when the fuzzer
// exits.
const std::string& iniPath() {
  static const testsupport::TempDir folder("zuq-fuzz");
  static const std::string path = folder / "fuzz.ini";
  return path;
}

// What the program and the library read, and names that are awkward.
const struct {
  const char* section;
  const char* key;
} kLookups[] = {
    {"options", "trade_issue"},
    {"options", "report_file"},
    {"OPTIONS", "Sync_Timeout"},
    {"zuqonl", "server"},
    {" zuqonl ", " data_dir "},
    {"", ""},
    {"a]b", "k=v"},
    {"[x]", ";k"},
};

// Sizes of the caller's buffer, the profile call's edge cases among them.
const uint32_t kSizes[] = {0, 1, 2, 17, 4096};

void readString(const char* section, const char* key) {
  static char buffer[4096 + 1];
  for (uint32_t size : kSizes) {
    buffer[size] = '\x5a';  // the byte past the buffer must stay as it is
    const uint32_t length =
        platform::getProfileString(section, key, "dflt  ", buffer, size, iniPath().c_str());
    if (size == 0 ? length != 0 : length >= size || buffer[length] != '\0') abort();
    if (buffer[size] != '\x5a') abort();
  }
}

}  // namespace

// The whole input is the file; its first line, cut at '=', also gives a
// section and a key to look up.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(iniPath().c_str(), "wb");
  if (file == nullptr) abort();
  if (size > 0 && fwrite(data, 1, size, file) != size) abort();
  fclose(file);

  for (const auto& lookup : kLookups) {
    readString(lookup.section, lookup.key);
    platform::getProfileInt(lookup.section, lookup.key, -7, iniPath().c_str());
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string first = text.substr(0, std::min(text.find('\n'), size_t{64}));
  const size_t equals = first.find('=');
  const std::string section = first.substr(0, std::min(equals, first.size()));
  const std::string key = equals == std::string::npos ? "" : first.substr(equals + 1);
  readString(section.c_str(), key.c_str());
  platform::getProfileInt(section.c_str(), key.c_str(), 0, iniPath().c_str());
  readString(nullptr, key.c_str());
  return 0;
}
