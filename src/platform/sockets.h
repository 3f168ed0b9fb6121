// The plain transport: a TCP connection over BSD sockets, every wait a
// poll that also watches the network cancel. The TLS transport reads and
// writes through one of these.
#pragma once

#include <string>

#include "platform/transport.h"

class SocketTransport final : public Transport {
 public:
  explicit SocketTransport(const transport_limits& limits) : limits_(limits) {}
  ~SocketTransport() override { close(); }
  SocketTransport(const SocketTransport&) = delete;
  SocketTransport& operator=(const SocketTransport&) = delete;

  bool connect(const std::string& host, uint16 port) override;
  // Plain sockets carry no TLS: always false.
  bool start_tls(const tls_trust& trust) override;
  bool send_all(std::string_view bytes) override;
  std::size_t receive_some(char* buffer, std::size_t room) override;
  void set_receive_wait(int ms) override { limits_.receive_ms = ms; }
  bool keep_alive() override;
  void close() override;
  bool is_open() const override { return fd_ >= 0; }

  // --- For a transport layered on this one ---

  // "host port N", for the user's reasons.
  const std::string& peer() const { return peer_; }
  const transport_limits& limits() const { return limits_; }
  // The waits of the calls from here on: a layer with a bound of its own
  // (a TLS handshake) narrows them for a while, then gives them back.
  void set_limits(const transport_limits& limits) { limits_ = limits; }

 private:
  bool connect_to(const struct addrinfo& address);
  // Waits until the socket is ready for `events` (poll's), at most
  // `timeout_ms` (0: no limit of its own) and never past the deadline.
  // False, the failure recorded, on a time-out or a cancel; `waiting_for`
  // names what was awaited in the reason ("a greeting", "the handshake").
  bool wait(short events, int timeout_ms, const char* waiting_for);
  // False, the failure recorded, once the check's deadline has passed: a
  // peer that always has bytes ready never makes wait() run.
  bool before_deadline(const char* waiting_for);
  bool out_of_time(const char* waiting_for);

  transport_limits limits_;
  int fd_ = -1;
  std::string peer_;
};
