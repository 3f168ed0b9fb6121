// Feeds arbitrary bytes to an IMAP check as everything the server says,
// handed out in chunks whose sizes the input's first byte chooses, and
// checks the promises of the response reader and the session: every
// response stays within its bounds, the check ends with one of the
// notifier's texts, and nothing sent ever changes the mailbox or carries
// the server's words.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "account_check.h"
#include "imap_reader.h"
#include "listing.h"
#include "pop3.h"
#include "require.h"
#include "settings_folder.h"

namespace {

class FuzzedServer final : public Transport {
 public:
  FuzzedServer(std::string_view said, std::size_t chunk, std::string& sent) : said_(said), chunk_(chunk), sent_(sent) {}
  bool connect(const std::string&, uint16) override { return open_ = true; }
  bool start_tls(const tls_trust&) override { return true; }
  bool send_all(std::string_view bytes) override {
    sent_ += bytes;
    return open_;
  }
  std::size_t receive_some(char* buffer, std::size_t room) override {
    if (!open_ || said_.empty()) {
      fail(transport_error::closed, "closed");
      return 0;
    }
    const std::size_t n = said_.copy(buffer, std::min(room, chunk_));
    said_.remove_prefix(n);
    return n;
  }
  void set_receive_wait(int) override {}
  bool keep_alive() override { return true; }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }

 private:
  std::string_view said_;
  std::size_t chunk_;
  std::string& sent_;
  bool open_ = false;
};

std::string_view said;
std::size_t chunk = 1;
std::string sent;

std::unique_ptr<Transport> fuzzed(pop_security, const transport_limits&) {
  return std::make_unique<FuzzedServer>(said, chunk, sent);
}

void check_reader(std::string_view bytes) {
  std::string ignored;
  FuzzedServer server(bytes, chunk, ignored);
  server.connect("h", 1);
  ImapReader reader(server);
  imap_response response;
  while (reader.read(response) == imap_read::response) {
    REQUIRE(!response.tag.empty());
    std::size_t total = response.text.size();
    for (const std::string& literal : response.literals) {
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
  // Every line sent is one of the client's own commands, tagged.
  for (std::string_view rest = sent; !rest.empty();) {
    const std::size_t end = rest.find("\r\n");
    REQUIRE(end != std::string_view::npos);
    const std::string_view line = rest.substr(0, end);
    REQUIRE(line.starts_with("a") || line.empty() || line == "DONE");
    rest.remove_prefix(end + 2);
  }
  return 0;
}
