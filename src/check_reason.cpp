#include "check_reason.h"

#include "platform/untrusted_text.h"
#include "pop3_words.h"
#include "protocol_line.h"

namespace {

// A receive that times out and a connection that closes look alike to the
// session, and a stream given up on for an endless line ends the same way.
const std::string gone = "the server closed the connection or stopped answering";

}  // namespace

std::string quoted_server_line(const std::string& line) {
  std::string quoted = "\"";
  quoted += printable_ascii(without_line_end(line), quoted_line_length);
  quoted += '"';
  return quoted;
}

std::string command_failure(const std::string& command, const std::string& line) {
  if (line.empty()) return gone + " at " + command;
  const std::string quoted = quoted_server_line(line);
  if (line.compare(0, pop3_server_response_ng.size(), pop3_server_response_ng) == 0)
    return "the server refused " + command + ": " + quoted;
  if (line.compare(0, pop3_server_response_ok.size(), pop3_server_response_ok) == 0)
    return "the server's answer to " + command + " holds no message count: " + quoted;
  return "the server's answer to " + command + " is not POP3: " + quoted;
}

std::string answer_cut(const std::string& command) { return gone + " in the answer to " + command; }
