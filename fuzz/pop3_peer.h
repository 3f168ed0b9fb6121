// A scripted POP3 server without a network, for the targets that drive POP3
// sessions: connect() is taken over so that the client's socket becomes one
// end of a socketpair whose other end already holds the server's whole
// answer, followed by the end of the stream. The session therefore never
// waits: once the answer is read, every further read sees the end.
//
// Defines connect(): include it from exactly one source of a target.
#pragma once

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

#include "platform/mail_settings.h"
#include "pop3.h"
#include "require.h"
#include "settings_folder.h"

namespace fuzz {

// The client end handed to the next IPv4 connect; -1 lets connect through.
inline int pending_client_end = -1;

// Room for every byte either side writes, so neither ever blocks on the other.
inline constexpr int peer_buffer_bytes = 4 << 20;

inline constexpr const char* account_lines = "[account]\nhost = 127.0.0.1\nuser = alice\npassword = secret\n";

// Account 0 at 127.0.0.1, short waits as a safety net, made once.
inline void prepare_pop3_account() {
  static const bool done = [] {
    write_setting_file("Mail/accounts", account_lines, 0600);
    pop3_connect_timeout_ms = 1000;
    pop3_receive_timeout_ms = 1000;
    return true;
  }();
  (void)done;
}

// The server side of the next session. Bytes beyond what the socket buffers
// hold are dropped, as if the server had closed there.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::string_view answer) {
    int ends[2];
    REQUIRE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
    for (int end : ends)
      setsockopt(end, SOL_SOCKET, SO_SNDBUF, &peer_buffer_bytes, sizeof peer_buffer_bytes);
    peer_ = ends[1];
    while (!answer.empty()) {
      const ssize_t n = send(peer_, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      answer.remove_prefix(static_cast<std::size_t>(n));
    }
    REQUIRE(shutdown(peer_, SHUT_WR) == 0);
    pending_client_end = ends[0];
  }
  ~ScriptedPeer() {
    const int unclaimed = std::exchange(pending_client_end, -1);
    if (unclaimed >= 0) close(unclaimed);
    close(peer_);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // Everything the client has sent so far, taken out of the socket.
  std::string received() {
    std::string bytes;
    char chunk[4096];
    for (;;) {
      const ssize_t n = recv(peer_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return bytes;
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int peer_ = -1;
};

}  // namespace fuzz

// The client's socket takes the place of the pending end; the connection is
// then already made. Anything else goes to the real call.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  if (address == nullptr || address->sa_family != AF_INET || fuzz::pending_client_end < 0)
    return static_cast<int>(syscall(SYS_connect, fd, address, length));
  const int end = std::exchange(fuzz::pending_client_end, -1);
  const int result = dup2(end, fd) == fd ? 0 : -1;
  close(end);
  return result;
}
