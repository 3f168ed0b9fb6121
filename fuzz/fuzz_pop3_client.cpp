// Feeds arbitrary bytes to a POP3 session as everything the server says,
// driving it as the mail check does (login, STAT before every message, TOP
// with its header lines, QUIT), and checking that every line read stays
// within the line limit, ends at its only CR LF, and that nothing the server
// says finds its way into a command.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pop3.h"
#include "pop3_peer.h"
#include "require.h"

namespace {

// Bounds that keep one run short whatever the server claims.
constexpr int max_messages = 50;
constexpr int max_lines_per_message = 10000;

// Byte by byte, a size that splits CR from LF often, and the usual size.
constexpr std::size_t read_sizes[] = {1, 3, 4096};

void check_line(const std::string& line) {
  REQUIRE(line.size() <= pop3_max_line_length);
  const std::string::size_type crlf = line.find("\r\n");
  REQUIRE(crlf == std::string::npos || crlf == line.size() - 2);
}

void read_header_lines(POP3& mes) {
  for (int n = 0; n < max_lines_per_message; ++n) {
    const std::string p = mes.GetData();
    check_line(p);
    if (p.empty()) return;
  }
}

void run_session() {
  POP3 mes(0);
  if (mes.Connect() == POP3::POP3_COMMAND_SUCSESS) {
    for (int i = 1; i <= std::min(mes.GetMsgNum(), max_messages); ++i) {
      check_line(mes.GetLastMesg());
      if (mes.TOP(i, 0) == POP3::POP3_COMMAND_SUCSESS) read_header_lines(mes);
    }
    mes.QUIT();
  }
  check_line(mes.GetLastMesg());
}

bool is_command(std::string_view line) {
  if (line == "USER alice" || line == "PASS secret" || line == "STAT" || line == "QUIT") return true;
  if (line.substr(0, 4) != "TOP " || line.size() < 7 || line.substr(line.size() - 2) != " 0") return false;
  const std::string_view number = line.substr(4, line.size() - 6);
  return number.find_first_not_of("0123456789") == std::string_view::npos;
}

void check_commands(std::string_view sent) {
  while (!sent.empty()) {
    const std::string_view::size_type crlf = sent.find("\r\n");
    REQUIRE(crlf != std::string_view::npos);
    REQUIRE(is_command(sent.substr(0, crlf)));
    sent.remove_prefix(crlf + 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  fuzz::prepare_pop3_account();
  pop3_read_size = read_sizes[data[0] % std::size(read_sizes)];
  fuzz::ScriptedPeer server(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  run_session();
  check_commands(server.received());
  return 0;
}
