// What a test of a whole mail check needs around the scripted server: the
// account in the mail settings, and session waits short enough for a test.
#pragma once

#include <string>

#include "pop3.h"
#include "temp_config.h"

namespace wyke_test {

// The accounts file of `home` with one account, readable by its owner only.
inline void write_account(const TempConfigHome& home, const std::string& host, const std::string& user = "alice",
                          const std::string& password = "secret") {
  home.write("Mail/accounts", "[account]\nhost = " + host + "\nuser = " + user + "\npassword = " + password + "\n",
             0600);
}

// Shortens the connect and receive waits for its lifetime; a test may shorten
// them further. The waits in force before come back afterwards.
class ShortSessionWaits {
 public:
  explicit ShortSessionWaits(int ms = 5000) {
    pop3_connect_timeout_ms = ms;
    pop3_handshake_timeout_ms = ms;
    pop3_receive_timeout_ms = ms;
    pop3_check_deadline_ms = 2 * ms;
  }
  ~ShortSessionWaits() {
    pop3_connect_timeout_ms = connect_;
    pop3_handshake_timeout_ms = handshake_;
    pop3_receive_timeout_ms = receive_;
    pop3_check_deadline_ms = deadline_;
  }
  ShortSessionWaits(const ShortSessionWaits&) = delete;
  ShortSessionWaits& operator=(const ShortSessionWaits&) = delete;

 private:
  int connect_ = pop3_connect_timeout_ms;
  int handshake_ = pop3_handshake_timeout_ms;
  int receive_ = pop3_receive_timeout_ms;
  int deadline_ = pop3_check_deadline_ms;
};

}  // namespace wyke_test
