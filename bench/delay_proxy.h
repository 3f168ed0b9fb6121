// A TCP proxy on loopback that holds every chunk of bytes for a fixed time
// in each direction before passing it on, as a long link would: a round trip
// through it costs twice that delay, whatever the traffic in flight (a delay
// line, not a queue of sleeps).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace bench {

class DelayProxy {
 public:
  using clock = std::chrono::steady_clock;
  // A chunk as the proxy read it: when, from the accept on; which side
  // wrote it; how many bytes. A connection's chunks tell its turns.
  struct Chunk {
    clock::duration at;
    bool from_client;
    std::size_t bytes;
  };

  // Listens on `address` (a port of its own) and connects each client to
  // `target_address`:`target_port`. False from listening() when it cannot.
  DelayProxy(const char* address, const char* target_address, std::uint16_t target_port,
             std::chrono::milliseconds one_way)
      : target_address_(target_address), target_port_(target_port), one_way_(one_way) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = ipv4(address, 0);
    socklen_t size = sizeof at;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) != 0)
      return;
    port_ = ntohs(at.sin_port);
    acceptor_ = std::thread([this] { accept_all(); });
  }

  ~DelayProxy() {
    shutdown(listener_, SHUT_RDWR);  // ends accept()
    if (acceptor_.joinable()) acceptor_.join();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (int fd : sockets_) shutdown(fd, SHUT_RDWR);  // ends the pumps' reads
    }
    for (std::thread& t : connections_) t.join();
    for (int fd : sockets_) close(fd);
    if (listener_ >= 0) close(listener_);
  }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  bool listening() const { return port_ != 0; }
  std::uint16_t port() const { return port_; }
  // From the accept of the connection that ended last to the end of both
  // its directions: what a check costs on the link, seen from the link.
  clock::duration last_connection() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_connection_;
  }
  // The chunks of the connection that ended last, in the order read.
  std::vector<Chunk> last_chunks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_chunks_;
  }
  // Connections whose both directions have ended; waits up to `timeout` for
  // more than `seen`.
  int ended_after(int seen, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_changed_.wait_for(lock, timeout, [&] { return ended_ > seen; });
    return ended_;
  }

 private:
  // Bytes in flight in one direction, each chunk with the time it is due.
  struct Line {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<clock::time_point, std::string>> chunks;
    bool ended = false;
  };

  static sockaddr_in ipv4(const char* address, std::uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address, &at.sin_addr);
    return at;
  }

  void accept_all() {
    for (;;) {
      const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_in to = ipv4(target_address_.c_str(), target_port_);
      const int one = 1;
      for (int fd : {client, server}) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::lock_guard<std::mutex> lock(mutex_);
      sockets_.push_back(client);
      sockets_.push_back(server);
      if (connect(server, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        shutdown(client, SHUT_RDWR);
        continue;
      }
      connections_.emplace_back([this, client, server, accepted = clock::now()] {
        auto chunks = std::make_shared<Timeline>();
        std::thread back([this, server, client, accepted, chunks] { pump(server, client, false, accepted, *chunks); });
        pump(client, server, true, accepted, *chunks);
        back.join();
        std::lock_guard<std::mutex> ended(mutex_);
        last_connection_ = clock::now() - accepted;
        last_chunks_ = std::move(chunks->chunks);
        ++ended_;
        ended_changed_.notify_all();
      });
    }
  }

  // The chunks of one connection, both directions.
  struct Timeline {
    std::mutex mutex;
    std::vector<Chunk> chunks;
  };

  // Reads `from` until it ends, passing every chunk to `to` one delay later
  // and noting it in `timeline`.
  void pump(int from, int to, bool from_client, clock::time_point accepted, Timeline& timeline) const {
    auto line = std::make_shared<Line>();
    std::thread writer([line, to] {
      std::unique_lock<std::mutex> lock(line->mutex);
      for (;;) {
        line->changed.wait(lock, [&] { return !line->chunks.empty() || line->ended; });
        if (line->chunks.empty()) break;
        auto [due, bytes] = std::move(line->chunks.front());
        line->chunks.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(due);  // the delay is the point
        for (std::size_t sent = 0; sent < bytes.size();) {
          const ssize_t n = send(to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<std::size_t>(n);
        }
        lock.lock();
      }
      shutdown(to, SHUT_WR);
    });
    char chunk[64 * 1024];
    for (;;) {
      const ssize_t n = recv(from, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      {
        std::lock_guard<std::mutex> noted(timeline.mutex);
        timeline.chunks.push_back({clock::now() - accepted, from_client, static_cast<std::size_t>(n)});
      }
      std::lock_guard<std::mutex> lock(line->mutex);
      line->chunks.emplace_back(clock::now() + one_way_, std::string(chunk, static_cast<std::size_t>(n)));
      line->changed.notify_one();
    }
    {
      std::lock_guard<std::mutex> lock(line->mutex);
      line->ended = true;
      line->changed.notify_one();
    }
    writer.join();
  }

  std::string target_address_;
  std::uint16_t target_port_;
  std::chrono::milliseconds one_way_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<int> sockets_;
  clock::duration last_connection_{};
  std::vector<Chunk> last_chunks_;
  int ended_ = 0;
  mutable std::condition_variable ended_changed_;
  std::vector<std::thread> connections_;
};

}  // namespace bench
