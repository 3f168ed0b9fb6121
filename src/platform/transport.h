// The byte stream a POP3 session runs over, whatever carries it: plain
// sockets (sockets.h) or TLS over them (tls_transport.h). The session speaks
// only to this interface, so the protocol code never knows which it has.
//
// Every wait is bounded twice: by its own time-out, and by the deadline of
// the whole check. A cancel (network_cancel.h) ends any wait at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/check_clock.h"
#include "platform/types.h"

// The waits of one connection, in milliseconds (0: no limit of its own).
struct transport_limits {
  int connect_ms = 0;    // each address tried
  int handshake_ms = 0;  // the TLS handshake, verification included
  int receive_ms = 0;    // each receive
  check_clock::time_point deadline = no_deadline;
  // A descriptor that, once readable, ends every wait as a cancel does:
  // one long-lived connection's own stop (-1: none).
  int stop_fd = -1;
};

// What the server's certificate must be.
struct tls_trust {
  std::string host;         // the name or address it must be issued for, also sent as SNI
  std::string cafile;       // extra trust anchors (PEM) beside the system store; empty: none
  std::string fingerprint;  // 64 lower-case hex digits of its SHA-256; when set, it alone decides
};

// Why a transport call failed.
enum class transport_error {
  none,
  unknown_host,  // the name resolves to no address
  connect,       // no address took the connection
  timed_out,     // a wait's own time-out passed
  deadline,      // the check's deadline passed
  cancelled,     // cancel_network_waits()
  closed,        // the peer ended the stream
  tls,           // the handshake or the certificate failed
  io,            // any other failure of the system or the TLS library
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Resolves `host` (IPv6 and IPv4 addresses, in the resolver's order) and
  // connects to the first address that answers.
  virtual bool connect(const std::string& host, uint16 port) = 0;
  // Does ahead what start_tls with the same `trust` needs before its first
  // byte (the library's set-up, the trust store read), so that no server
  // waits on it; start_tls does it itself when this was not called. False,
  // with the reason, when it cannot be done. Nothing to do for a transport
  // without TLS.
  virtual bool prepare_tls(const tls_trust&) { return true; }
  // Protects the connection from here on; true once the server's
  // certificate has passed the checks of `trust`. Nothing received before
  // it is read afterwards.
  virtual bool start_tls(const tls_trust& trust) = 0;
  // Every byte, or false.
  virtual bool send_all(std::string_view bytes) = 0;
  // Up to `room` bytes, at least one; 0 when nothing more comes (the end of
  // the stream, a time-out, a cancel or a failure: error() tells which).
  virtual std::size_t receive_some(char* buffer, std::size_t room) = 0;
  // Each receive from now on waits at most `ms` (0: no limit of its own):
  // a connection that idles waits longer than one awaiting an answer.
  virtual void set_receive_wait(int ms) = 0;
  // Has the system probe a connection that stays silent for long, so that
  // a peer gone without a word is found out (TCP keep-alive). False when
  // the connection cannot.
  virtual bool keep_alive() = 0;
  // Ends the connection; later calls fail. Idempotent.
  virtual void close() = 0;
  virtual bool is_open() const = 0;

  // The last failure, and one line on it for the user (no secret in it).
  transport_error error() const { return error_; }
  const std::string& reason() const { return reason_; }

 protected:
  // Records a failure; returns false for the caller's convenience.
  bool fail(transport_error error, std::string reason) {
    error_ = error;
    reason_ = std::move(reason);
    return false;
  }
  void clear_failure() {
    error_ = transport_error::none;
    reason_.clear();
  }

 private:
  transport_error error_ = transport_error::none;
  std::string reason_;
};
