// A transport held in memory: what the server says is a script of chunks,
// each handed out by one receive; what the client sends is recorded. Once
// the script is spent the server falls silent: a receive times out, as a
// real one would after its wait. For hostile answers without a network.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "platform/transport.h"

namespace wyke_test {

class ScriptedTransport final : public Transport {
 public:
  // `sent` outlives the transport: the test reads it after the session.
  ScriptedTransport(std::deque<std::string> script, std::string& sent) : script_(std::move(script)), sent_(sent) {}

  bool connect(const std::string&, uint16) override { return open_ = true; }
  bool start_tls(const tls_trust&) override {
    sent_ += "<TLS>";
    return true;
  }
  bool send_all(std::string_view bytes) override {
    if (!open_) return fail(transport_error::io, "not connected");
    sent_ += bytes;
    return true;
  }
  std::size_t receive_some(char* buffer, std::size_t room) override {
    if (!open_ || script_.empty()) {
      fail(transport_error::timed_out, "gave up waiting for an answer");
      return 0;
    }
    std::string& chunk = script_.front();
    const std::size_t n = chunk.copy(buffer, room);
    chunk.erase(0, n);
    if (chunk.empty()) script_.pop_front();
    return n;
  }
  void set_receive_wait(int) override {}
  bool keep_alive() override { return true; }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }

 private:
  std::deque<std::string> script_;
  std::string& sent_;
  bool open_ = false;
};

}  // namespace wyke_test
