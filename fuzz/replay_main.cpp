// Runs a fuzz target's entry point once over each file of its seed corpus, as
// libFuzzer runs a corpus before it mutates it. Linked into the ordinary
// build, it keeps every input in the corpus a test: a crash that was found
// and added there stays fixed. A file that makes the target abort fails the
// run; so does a corpus without files, which would test nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else {
      inputs.emplace_back(argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no corpus files given\n");
    return 1;
  }
  for (const auto& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "%s: cannot be read\n", input.string().c_str());
      return 1;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    // libFuzzer never passes a null pointer, not even for an empty input.
    static const uint8_t kNone = 0;
    const auto* data = bytes.empty() ? &kNone : reinterpret_cast<const uint8_t*>(bytes.data());
    std::printf("%s (%zu bytes)\n", input.filename().string().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(data, bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
