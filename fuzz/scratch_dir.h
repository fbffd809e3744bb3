// The one scratch folder of a fuzz target, for the files it feeds to the code
// under test: made at first use, removed with its contents when the fuzzer
// exits.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace fuzz {

inline const std::string& scratchDir() {
  struct Dir {
    Dir() {
      path = (std::filesystem::temp_directory_path() / "zuq_fuzz.XXXXXX").string();
      if (mkdtemp(path.data()) == nullptr) abort();
    }
    ~Dir() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    std::string path;
  };
  static const Dir dir;
  return dir.path;
}

}  // namespace fuzz
