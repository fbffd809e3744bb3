// TCP sockets on 127.0.0.1 for the tests: a listener on a free or given
// port, the links it accepts, and links that connect to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace testsupport {

// One TCP link on loopback, closed when the object goes. Movable.
class LoopbackSocket {
 public:
  LoopbackSocket() = default;
  ~LoopbackSocket();
  LoopbackSocket(LoopbackSocket&& other) noexcept;
  LoopbackSocket& operator=(LoopbackSocket&& other) noexcept;
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  // A link to 127.0.0.1:`port`; `receiveBuffer` > 0 shrinks the receive
  // buffer first, so that a reader that does not read pushes back sooner.
  // Invalid when the connection fails.
  static LoopbackSocket connectTo(uint16_t port, int receiveBuffer = 0);

  bool valid() const;
  // Sends all of `bytes`; false once the peer is gone (never a signal).
  bool send(const std::string& bytes);
  // Waits up to `limitMs` for something to read (or the end); false at the limit.
  bool waitReadable(int limitMs);
  // Reads what has arrived, at most `size` bytes: the count, 0 at the end
  // of the link, -1 on an error. Blocks until something arrives.
  long receiveSome(char* buffer, size_t size);
  void close();

 private:
  friend class LoopbackListener;
  explicit LoopbackSocket(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_ = -1;
};

// A listening socket on 127.0.0.1, closed when the object goes.
class LoopbackListener {
 public:
  // Listens on `port` (0: a free one) with a queue of `backlog` pending links.
  explicit LoopbackListener(uint16_t port = 0, int backlog = 16);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool valid() const;
  uint16_t port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // The next link, waiting up to `limitMs`; invalid at the limit.
  LoopbackSocket accept(int limitMs);

 private:
  std::intptr_t handle_ = -1;
  uint16_t port_ = 0;
};

// A port on 127.0.0.1 that nothing listened on when it was asked for.
uint16_t unusedLoopbackPort();

}  // namespace testsupport
