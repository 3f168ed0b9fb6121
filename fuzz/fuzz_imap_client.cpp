// Feeds arbitrary bytes to an IMAP check as everything the server says,
// handed out in chunks whose sizes the input's first byte chooses, and
// checks the promises of the response reader and the session: every
// response stays within its bounds, the check ends with one of the
// notifier's texts, and nothing sent ever changes the mailbox or carries
// the server's words.
#include <algorithm>
#include <cstddef>
#include <deque>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "account_check.h"
#include "imap_reader.h"
#include "listing.h"
#include "pop3.h"
#include "require.h"
#include "scripted_transport.h"
#include "settings_folder.h"

namespace {

std::string_view said;
std::size_t chunk = 1;
std::string sent;

// What the server says, in chunks of the chosen size.
std::deque<std::string> chunks(std::string_view bytes) {
  std::deque<std::string> out;
  for (; !bytes.empty(); bytes.remove_prefix(std::min(chunk, bytes.size())))
    out.emplace_back(bytes.substr(0, chunk));
  return out;
}

std::unique_ptr<Transport> fuzzed(pop_security, const transport_limits&) {
  return std::make_unique<wyke_test::ScriptedTransport>(chunks(said), sent);
}

void check_reader(std::string_view bytes) {
  std::string ignored;
  wyke_test::ScriptedTransport server(chunks(bytes), ignored);
  server.connect("h", 1);
  ImapReader reader(server);
  imap_response response;
  while (reader.read(response) == imap_read::response) {
    REQUIRE(!response.tag.empty());
    std::size_t total = response.text.size();
    for (const std::string_view literal : response.literals) {
      REQUIRE(literal.size() <= imap_max_literal);
      total += literal.size();
    }
    REQUIRE(total <= imap_max_response + imap_max_line_length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool once = [] {
    fuzz::write_setting_file("Mail/accounts",
                             "[account]\nprotocol = imap\nhost = h\nuser = alice\npassword = secret\nsecurity = tls\n",
                             0600);
    pop3_make_transport = fuzzed;
    pop3_receive_timeout_ms = 1000;
    return true;
  }();
  (void)once;
  if (size == 0) return 0;
  constexpr std::size_t chunk_sizes[] = {1, 3, 7, 4096};
  chunk = chunk_sizes[data[0] % 4];
  said = std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);
  check_reader(said);

  sent.clear();
  const account_outcome outcome = check_account(0, {"From:", "Subject:"});
  REQUIRE(outcome.text.size() <= max_text_bytes + max_header_bytes);
  if (!outcome.listed) {
    REQUIRE(outcome.text == "Error" || outcome.text == "Wrong Password" || outcome.text == "Unknown Host");
  }
  for (const char* changes : {" STORE", " SELECT", " EXPUNGE", " COPY", " MOVE", "BODY["})
    REQUIRE(sent.find(changes) == std::string::npos);
  // Every line sent is one of the client's own commands, tagged (the
  // transport marks where TLS began).
  for (std::size_t mark = sent.find("<TLS>"); mark != std::string::npos; mark = sent.find("<TLS>"))
    sent.erase(mark, 5);
  for (std::string_view rest = sent; !rest.empty();) {
    const std::size_t end = rest.find("\r\n");
    REQUIRE(end != std::string_view::npos);
    const std::string_view line = rest.substr(0, end);
    REQUIRE(line.starts_with("a") || line.empty());
    rest.remove_prefix(end + 2);
  }
  return 0;
}
