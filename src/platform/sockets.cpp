#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "platform/debug_log.h"
#include "platform/host_lookup.h"
#include "platform/network_cancel.h"

namespace {

// A host the resolver does not know, read as four numbers written with dots
// (the first number is the first byte on the wire). Numbers after the
// fourth are ignored; fewer than four make no address.
bool dotted_quad(const std::string& host, in_addr* address) {
  if (host.find_first_not_of("0123456789.") != std::string::npos) return false;
  std::string spaced = host;
  std::replace(spaced.begin(), spaced.end(), '.', ' ');
  std::istringstream numbers(spaced);
  uint32 ip = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned long number = 0;
    if (!(numbers >> number) || number > 255) return false;
    ip = ip * 256 + static_cast<uint32>(number);
  }
  address->s_addr = htonl(ip);
  return true;
}

std::string address_text(const addrinfo& address) {
  char text[INET6_ADDRSTRLEN] = "?";
  const void* raw = address.ai_family == AF_INET6
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address.ai_addr)->sin6_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address.ai_addr)->sin_addr);
  inet_ntop(address.ai_family, raw, text, sizeof text);
  return text;
}

}  // namespace

bool SocketTransport::wait(short events, int timeout_ms, const char* waiting_for) {
  for (;;) {
    const int deadline_ms = poll_timeout_until(limits_.deadline);
    const bool deadline_binds = deadline_ms >= 0 && (timeout_ms <= 0 || deadline_ms <= timeout_ms);
    const int wait_ms = deadline_binds ? deadline_ms : (timeout_ms > 0 ? timeout_ms : -1);
    pollfd fds[3] = {{fd_, events, 0}, {network_cancel_fd(), POLLIN, 0}, {limits_.stop_fd, POLLIN, 0}};
    const int n = poll(fds, limits_.stop_fd >= 0 ? 3 : 2, wait_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(transport_error::io, std::string("poll: ") + std::strerror(errno));
    if (fds[1].revents != 0 || fds[2].revents != 0 || network_waits_cancelled())
      return fail(transport_error::cancelled, "the check was cancelled");
    if (n > 0) return true;
    if (deadline_binds) return out_of_time(waiting_for);
    return fail(transport_error::timed_out, "gave up after " + duration_text(timeout_ms) + " waiting for " +
                                                std::string(waiting_for) + " from " + peer_);
  }
}

bool SocketTransport::before_deadline(const char* waiting_for) {
  return check_clock::now() < limits_.deadline || out_of_time(waiting_for);
}

bool SocketTransport::out_of_time(const char* waiting_for) {
  return fail(transport_error::deadline,
              "the check ran out of time waiting for " + std::string(waiting_for) + " from " + peer_);
}

bool SocketTransport::connect(const std::string& host, uint16 port) {
  close();
  clear_failure();
  peer_ = host + " port " + std::to_string(port);
  if (host.empty()) return fail(transport_error::unknown_host, "no host is set for the account");

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  const std::string service = std::to_string(port);
  host_lookup lookup = lookup_host(host, service, hints, limits_.deadline);
  if (lookup.how == host_lookup::ending::cancelled) return fail(transport_error::cancelled, "the check was cancelled");
  if (lookup.how == host_lookup::ending::deadline)
    return fail(transport_error::deadline, "the check ran out of time looking up " + host);
  const int resolved = lookup.code;
  if (resolved != 0) {
    sockaddr_in quad{};
    if (!dotted_quad(host, &quad.sin_addr))
      return fail(transport_error::unknown_host, "unknown host " + host + ": " + gai_strerror(resolved));
    quad.sin_family = AF_INET;
    quad.sin_port = htons(port);
    addrinfo only{};
    only.ai_family = AF_INET;
    only.ai_socktype = SOCK_STREAM;
    only.ai_protocol = IPPROTO_TCP;
    only.ai_addr = reinterpret_cast<sockaddr*>(&quad);
    only.ai_addrlen = sizeof quad;
    return connect_to(only);
  }
  bool connected = false;
  for (const addrinfo* address = lookup.found.get(); address != nullptr && !connected; address = address->ai_next) {
    connected = connect_to(*address);
    // Only the last address's failure is told; a cancel or the deadline
    // ends the trying.
    if (error() == transport_error::cancelled || error() == transport_error::deadline) break;
  }
  if (connected) clear_failure();
  return connected;
}

bool SocketTransport::connect_to(const addrinfo& address) {
  const std::string text = address_text(address);
  debug_note("connecting to " + text + " port " + std::to_string(ntohs(
      address.ai_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(address.ai_addr)->sin6_port
                                    : reinterpret_cast<const sockaddr_in*>(address.ai_addr)->sin_port)));
  fd_ = socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd_ < 0) return fail(transport_error::io, std::string("socket: ") + std::strerror(errno));
  // Every write is a whole command, a batch of them, or a TLS record: Nagle's
  // algorithm would only hold the second of two records of a handshake
  // flight until the first is acknowledged.
  const int no_delay = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
  int result = ::connect(fd_, address.ai_addr, address.ai_addrlen);
  if (result != 0 && (errno == EINPROGRESS || errno == EINTR)) {
    if (!wait(POLLOUT, limits_.connect_ms, "an answer to the connection")) {
      close();
      return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    result = getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    if (result == 0 && error != 0) {
      errno = error;
      result = -1;
    }
  }
  // The descriptor may have been replaced meanwhile (a test's stand-in
  // peer): every socket of a session is non-blocking.
  const int flags = result == 0 ? fcntl(fd_, F_GETFL) : -1;
  if (result != 0 || flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
    const int why = errno;
    close();
    return fail(transport_error::connect, "cannot connect to " + peer_ + " (" + text + "): " + std::strerror(why));
  }
  return true;
}

bool SocketTransport::start_tls(const tls_trust&) {
  return fail(transport_error::tls, "this connection cannot carry TLS");
}

bool SocketTransport::send_all(std::string_view bytes) {
  while (!bytes.empty()) {
    if (network_waits_cancelled()) return fail(transport_error::cancelled, "the check was cancelled");
    if (fd_ < 0) return fail(transport_error::io, "not connected");
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!wait(POLLOUT, limits_.receive_ms, "a read of what was sent")) return false;
      continue;
    }
    if (n <= 0) return fail(transport_error::io, "sending to " + peer_ + ": " + std::strerror(errno));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::size_t SocketTransport::receive_some(char* buffer, std::size_t room) {
  for (;;) {
    // A server that never pauses must not outlast a cancel.
    if (network_waits_cancelled()) {
      fail(transport_error::cancelled, "the check was cancelled");
      return 0;
    }
    if (fd_ < 0) {
      fail(transport_error::io, "not connected");
      return 0;
    }
    if (!before_deadline("an answer")) return 0;
    const ssize_t n = recv(fd_, buffer, room, MSG_DONTWAIT);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0) {
      fail(transport_error::closed, peer_ + " closed the connection");
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      fail(transport_error::io, "receiving from " + peer_ + ": " + std::strerror(errno));
      return 0;
    }
    if (!wait(POLLIN, limits_.receive_ms, "an answer")) return 0;
  }
}

// A minute of silence before the first probe, then one every 20 s: a peer
// gone without a word is known within two minutes, far before the
// renewal of an idling connection.
bool SocketTransport::keep_alive() {
  constexpr int idle_s = 60, interval_s = 20, probes = 3;
  const int on = 1;
  return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s) == 0 &&
         setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s) == 0 &&
         setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0;
}

void SocketTransport::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
