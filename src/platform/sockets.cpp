#include "platform/sockets.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

int milliseconds_left(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for a non-blocking connect to finish, then reports how it ended.
int wait_connected(int socket, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  pollfd ready{socket, POLLOUT, 0};
  for (;;) {
    const int n = poll(&ready, 1, timeout_ms > 0 ? milliseconds_left(deadline) : -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    break;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 0;
}

}  // namespace

int closesocket(int socket) { return close(socket); }

bool resolve_ipv4(const char* host, uint32* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0) return false;
  const bool ok = found != nullptr && found->ai_addr != nullptr && found->ai_addr->sa_family == AF_INET;
  if (ok) *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return ok;
}

int connect_within(int socket, const sockaddr* address, socklen_t length, int timeout_ms) {
  const int flags = fcntl(socket, F_GETFL);
  if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return -1;
  int result = connect(socket, address, length);
  if (result != 0 && (errno == EINPROGRESS || errno == EINTR)) result = wait_connected(socket, timeout_ms);
  const int saved = errno;
  // A handshake given up on would go on in the kernel, and a later send
  // would wait for it; dissolving the association makes such a send fail.
  if (result != 0) {
    sockaddr none{};
    none.sa_family = AF_UNSPEC;
    connect(socket, &none, sizeof none);
  }
  if (fcntl(socket, F_SETFL, flags) != 0) return -1;
  errno = saved;
  return result;
}

bool set_receive_timeout(int socket, int timeout_ms) {
  timeval wait{};
  if (timeout_ms > 0) {
    wait.tv_sec = timeout_ms / 1000;
    wait.tv_usec = (timeout_ms % 1000) * 1000;
  }
  return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0;
}

bool send_all(int socket, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = send(socket, bytes, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

ssize_t recv_some(int socket, char* buffer, std::size_t room) {
  for (;;) {
    const ssize_t n = recv(socket, buffer, room, 0);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}
