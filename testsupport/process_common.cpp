#include <thread>

#include "testsupport/process.h"

namespace testsupport {

Process::~Process() {
  if (running_) kill();
}

bool Process::waitFor(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ended()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string stopEventName(unsigned long processId) {
  return "Local\\zuq-stop-" + std::to_string(processId);
}

}  // namespace testsupport
