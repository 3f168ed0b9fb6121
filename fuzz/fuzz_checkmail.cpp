// Feeds arbitrary bytes to a whole mail check as everything the server says,
// and checks what the notifier would show: the count matches the lines of
// the text, and the text stays within what the server sent can explain;
// what it remembers of each message and tells of it stays bounded and safe.
//
// The first byte also picks the account's security and sign-in. The secured exchanges
// (CAPA, STLS, pipelined TOPs) run over the plain transport here, with a
// start_tls that lets the bytes through: the fuzzer drives the protocol, not
// OpenSSL.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sockets.h"
#include "news_text.h"
#include "pop3.h"
#include "pop3_peer.h"
#include "require.h"
#include "wyke.h"

namespace {

class PlainAsSecured final : public Transport {
 public:
  explicit PlainAsSecured(const transport_limits& limits) : plain_(limits) {}
  bool connect(const std::string& host, uint16 port) override { return plain_.connect(host, port) || copy(); }
  bool start_tls(const tls_trust&) override { return true; }
  bool send_all(std::string_view bytes) override { return plain_.send_all(bytes) || copy(); }
  std::size_t receive_some(char* buffer, std::size_t room) override {
    const std::size_t received = plain_.receive_some(buffer, room);
    if (received == 0) copy();
    return received;
  }
  void set_receive_wait(int ms) override { plain_.set_receive_wait(ms); }
  bool keep_alive() override { return plain_.keep_alive(); }
  void close() override { plain_.close(); }
  bool is_open() const override { return plain_.is_open(); }

 private:
  bool copy() { return fail(plain_.error(), plain_.reason()); }
  SocketTransport plain_;
};

std::unique_ptr<Transport> make_plain_as_secured(pop_security, const transport_limits& limits) {
  return std::make_unique<PlainAsSecured>(limits);
}

// The last signs in with an access token: the server's bytes then meet the
// SASL exchange and its JSON refusal.
constexpr const char* security_lines[] = {"", "security = tls\n", "security = starttls\n",
                                          "security = tls\nauth = xoauth2\noauth_token_command = echo token\n"};

const std::vector<std::string> header_lists[] = {
    {"From:", "Subject:"},
    {""},  // every line, the blank one included
    {"Subj", "From:", "From:"},
};

// n lines are joined by n - 1 newlines; a line may be empty.
bool count_matches(int lines, const std::string& text) {
  const auto newlines = std::count(text.begin(), text.end(), '\n');
  return lines == 0 ? text.empty() : newlines == lines - 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  fuzz::prepare_pop3_account();
  pop3_make_transport = make_plain_as_secured;
  pop3_read_size = data[0] & 1 ? 1 : 4096;
  const std::size_t security = (data[0] >> 1) % std::size(security_lines);
  fuzz::write_setting_file("Mail/accounts",
                           std::string(fuzz::account_lines) + security_lines[security], 0600);
  const std::vector<std::string>& headers = header_lists[data[1] % std::size(header_lists)];
  const std::string_view answer(reinterpret_cast<const char*>(data + 2), size - 2);
  fuzz::ScriptedPeer server(answer);
  const int lines = WykeView::checkmail(headers);
  // No credential goes before the upgrade that protects it.
  const std::string sent = server.received();
  if (security == 2 && sent.find("USER ") != std::string::npos)
    REQUIRE(sent.find("STLS\r\n") < sent.find("USER "));
  if (security == 3) REQUIRE(sent.find("USER ") == std::string::npos && sent.find("PASS ") == std::string::npos);
  REQUIRE(count_matches(lines, wyke_header));
  REQUIRE(wyke_header.find('\r') == std::string::npos);
  // Each shown field comes from at least one line the server sent, and a
  // decoded word is never longer than its conversion area allows.
  REQUIRE(wyke_header.size() <= 256 * answer.size() + 64);
  // What the check remembers of each message is bounded whatever the
  // server sent, and a notification's body carries none of its markup.
  for (const account_part& part : last_parts) {
    const account_outcome& outcome = part.outcome;
    for (const listed_message& message : outcome.messages) {
      REQUIRE(!message.identity.empty() && message.identity.size() <= max_identity_bytes + 16);
      REQUIRE(message.from.size() <= max_listed_field_bytes && message.subject.size() <= max_listed_field_bytes);
    }
    const notice_text told = describe(NewsTracker().update(0, outcome));
    REQUIRE(told.summary.empty() == outcome.messages.empty());
    REQUIRE(told.body.find('<') == std::string::npos && told.body.find('>') == std::string::npos);
  }
  return 0;
}
