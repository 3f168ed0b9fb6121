#include "check_reason.h"

#include <algorithm>

#include "pop3.h"

namespace {

// A receive that times out and a connection that closes look alike to the
// session, and a stream given up on for an endless line ends the same way.
const std::string gone = "the server closed the connection or stopped answering";

}  // namespace

std::string quoted_server_line(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  const bool cut = line.size() > quoted_line_length;
  if (cut) line.resize(quoted_line_length);
  std::replace_if(line.begin(), line.end(), [](unsigned char c) { return c < 0x20 || c > 0x7e; }, '?');
  return "\"" + line + (cut ? "...\"" : "\"");
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
