// Loopback sockets on Windows (Winsock 2).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "testsupport/loopback.h"

namespace testsupport {

namespace {

// Winsock is started once per process, before the first socket.
SOCKET newSocket() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
}

SOCKET native(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool readable(SOCKET s, int limitMs) {
  WSAPOLLFD p{s, POLLRDNORM, 0};
  return WSAPoll(&p, 1, limitMs) == 1;
}

}  // namespace

LoopbackSocket LoopbackSocket::connectTo(uint16_t port, int receiveBuffer) {
  const SOCKET s = newSocket();
  if (s == INVALID_SOCKET) return LoopbackSocket();
  if (receiveBuffer > 0) {
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
               sizeof receiveBuffer);
  }
  const sockaddr_in address = loopback(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return LoopbackSocket();
  }
  return LoopbackSocket(static_cast<std::intptr_t>(s));
}

bool LoopbackSocket::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int chunk = static_cast<int>(std::min<size_t>(bytes.size() - sent, 1 << 30));
    const int size = ::send(native(handle_), bytes.data() + sent, chunk, 0);
    if (size <= 0) return false;
    sent += static_cast<size_t>(size);
  }
  return true;
}

bool LoopbackSocket::waitReadable(int limitMs) { return readable(native(handle_), limitMs); }

long LoopbackSocket::receiveSome(char* buffer, size_t size) {
  const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
  return ::recv(native(handle_), buffer, chunk, 0);
}

void LoopbackSocket::close() {
  if (handle_ != -1) closesocket(native(handle_));
  handle_ = -1;
}

LoopbackListener::LoopbackListener(uint16_t port, int backlog) {
  const SOCKET s = newSocket();
  if (s == INVALID_SOCKET) return;
  // No SO_REUSEADDR: on Windows it would let two listeners share a port.
  sockaddr_in address = loopback(port);
  int size = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    closesocket(s);
    return;
  }
  handle_ = static_cast<std::intptr_t>(s);
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
  if (handle_ != -1) closesocket(native(handle_));
}

LoopbackSocket LoopbackListener::accept(int limitMs) {
  if (handle_ == -1 || !readable(native(handle_), limitMs)) return LoopbackSocket();
  const SOCKET link = ::accept(native(handle_), nullptr, nullptr);
  return link == INVALID_SOCKET ? LoopbackSocket()
                                : LoopbackSocket(static_cast<std::intptr_t>(link));
}

}  // namespace testsupport
