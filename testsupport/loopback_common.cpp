#include <utility>

#include "testsupport/loopback.h"

namespace testsupport {

LoopbackSocket::~LoopbackSocket() { close(); }

LoopbackSocket::LoopbackSocket(LoopbackSocket&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {}

LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

bool LoopbackSocket::valid() const { return handle_ != -1; }

bool LoopbackListener::valid() const { return handle_ != -1; }

uint16_t unusedLoopbackPort() {
  LoopbackListener listener;
  return listener.port();
}

}  // namespace testsupport
