// A child for the process tests: prints its arguments and folder, then
// exits with the status given as its first argument, or sleeps on "sleep".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "sleep") {
    std::printf("sleeping\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
  }
  for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
  std::printf("in %s\n", std::filesystem::current_path().filename().string().c_str());
  std::fprintf(stderr, "to stderr\n");
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
