// Loopback sockets on POSIX.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testsupport/loopback.h"

namespace testsupport {

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool readable(int fd, int limitMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, limitMs) == 1;
}

}  // namespace

LoopbackSocket LoopbackSocket::connectTo(uint16_t port, int receiveBuffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return LoopbackSocket();
  if (receiveBuffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  const sockaddr_in address = loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return LoopbackSocket();
  }
  return LoopbackSocket(fd);
}

bool LoopbackSocket::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t size =
        ::send(static_cast<int>(handle_), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (size <= 0) return false;
    sent += static_cast<size_t>(size);
  }
  return true;
}

bool LoopbackSocket::waitReadable(int limitMs) {
  return readable(static_cast<int>(handle_), limitMs);
}

long LoopbackSocket::receiveSome(char* buffer, size_t size) {
  return static_cast<long>(::recv(static_cast<int>(handle_), buffer, size, 0));
}

void LoopbackSocket::close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

LoopbackListener::LoopbackListener(uint16_t port, int backlog) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // A given port may still hold links of an earlier listener in TIME_WAIT.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = loopback(port);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd);
    return;
  }
  handle_ = fd;
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
}

LoopbackSocket LoopbackListener::accept(int limitMs) {
  if (handle_ == -1 || !readable(static_cast<int>(handle_), limitMs)) return LoopbackSocket();
  const int link = accept4(static_cast<int>(handle_), nullptr, nullptr, SOCK_CLOEXEC);
  return link < 0 ? LoopbackSocket() : LoopbackSocket(link);
}

}  // namespace testsupport
