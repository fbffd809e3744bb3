#include "run/option_keys.h"

#include <string>

#include "platform/physical_memory.h"

namespace {

// Text values are read into a buffer of this many bytes, the last for its
// terminator: at most 255 characters.
constexpr uint32_t kTextBufferBytes = 256;

}  // namespace

std::string optionText(const platform::Profile& profile, const OptionKey& key) {
  const std::string name(key.name);
  return profile.text(kOptionsSection, name.c_str(), key.defaultValue ? key.defaultValue : "",
                      kTextBufferBytes);
}

int32_t optionInteger(const platform::Profile& profile, const OptionKey& key) {
  const std::string name(key.name);
  const int32_t defaultValue = key.defaultValue ? std::stoi(key.defaultValue) : 0;
  return static_cast<int32_t>(profile.getInt(kOptionsSection, name.c_str(), defaultValue));
}

Options readOptions(const platform::Profile& profile) {
  Options options;
  for (const OptionKey& key : kOptionKeys) {
    if (key.kind == OptionKind::Text) {
      key.text(options) = optionText(profile, key);
    } else {
      key.integer(options) = optionInteger(profile, key);
    }
  }
  RunSettings& run = options.run;
  run.maxStoreMiB = run.maxStoreMb > 0
                        ? static_cast<uint32_t>(run.maxStoreMb)
                        : defaultStoreLimitMiB(platform::physicalMemoryBytes(), sizeof(void*));
  return options;
}

ReportOptions readReportOptions(const char* iniPath) {
  return readOptions(platform::Profile::read(iniPath)).report;
}
