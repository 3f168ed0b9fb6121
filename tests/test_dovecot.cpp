// Whole mail checks against a real Dovecot configured as a stock server
// reached over a network is: TLS required, plaintext logins refused. The
// notifier lists the maildrop over TLS on port 995 and over STARTTLS on port
// 110, trusting the test's own CA through `cafile` or the certificate through
// `fingerprint`; with no trust it sends no credentials, and without security
// keys the server refuses it and it says why.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dovecot_server.h"
#include "netns.h"
#include "platform/report.h"
#include "pop3_account.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using namespace std::chrono_literals;
using wyke_test::DovecotServer;

constexpr auto bounded = 10s;
const std::vector<std::string> default_headers = {"From:", "Subject:"};

// More messages than a batch of pipelined commands holds, so that a check
// over TLS crosses batch boundaries; every fifth Subject folded.
constexpr int maildrop_size = 150;

std::string message(int n) {
  const std::string i = std::to_string(n);
  std::string m = "Received: from mx.example.net by pop.wyke.test\r\nFrom: Sender " + i + " <s" + i +
                  "@example.org>\r\nTo: alice@wyke.test\r\n";
  m += n % 5 == 0 ? "Subject: Message\r\n number " + i + "\r\n" : "Subject: Message number " + i + "\r\n";
  return m + "Date: Tue, 14 May 2024 09:00:00 +0200\r\n\r\nBody of " + i + "\r\n";
}

std::vector<std::string> maildrop() {
  std::vector<std::string> messages;
  for (int n = 1; n <= maildrop_size; ++n) messages.push_back(message(n));
  return messages;
}

// What the notifier shows for the maildrop: folded fields unfolded.
std::string listing() {
  std::string text;
  for (int n = 1; n <= maildrop_size; ++n) {
    const std::string i = std::to_string(n);
    if (n > 1) text += '\n';
    text.append("From: Sender ").append(i).append(" <s").append(i).append("@example.org>\n");
    text.append("Subject: Message number ").append(i);
  }
  return text;
}

// Where two listings part: the first line that differs, or "" when none.
std::string first_difference(const std::string& got, const std::string& want) {
  std::istringstream a(got), b(want);
  std::string x, y;
  for (int line = 1;; ++line) {
    const bool more_a = static_cast<bool>(std::getline(a, x)), more_b = static_cast<bool>(std::getline(b, y));
    if (!more_a && !more_b) return "";
    if (!more_a || !more_b || x != y)
      return "line " + std::to_string(line) + ": got \"" + (more_a ? x : "<end>") + "\", want \"" +
             (more_b ? y : "<end>") + "\"";
  }
}

class Dovecot : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!DovecotServer::unavailable().empty()) return;
    server = std::make_unique<DovecotServer>(maildrop());
    started = server->start();
  }
  static void TearDownTestSuite() { server.reset(); }

  void SetUp() override {
    if (const std::string why = DovecotServer::unavailable(); !why.empty())
      GTEST_SKIP() << "cannot run Dovecot: " << why;
    ASSERT_TRUE(started) << server->error();
    log_before = server->log().size();
  }
  void TearDown() override { wyke_header.clear(); }

  static std::string account(const std::string& keys) {
    return std::string("[account]\nhost = ") + wyke_test::test_host_name + "\nuser = " + DovecotServer::user +
           "\npassword = " + DovecotServer::password + "\n" + keys;
  }
  void write_account(const std::string& keys) { home.write("Mail/accounts", account(keys), 0600); }

  // What the server logged since the test began, once it holds `awaited`,
  // a line of this session's end (logged a moment after the check returns;
  // the server's own start-up probes may be logged later than that).
  std::string session_log(const std::string& awaited) {
    const auto deadline = std::chrono::steady_clock::now() + bounded;
    std::string since;
    while (std::chrono::steady_clock::now() < deadline) {
      since = server->log().substr(log_before);
      if (since.find(awaited) != std::string::npos) break;
      std::this_thread::sleep_for(20ms);
    }
    return since;
  }

  static std::unique_ptr<DovecotServer> server;
  static bool started;
  std::size_t log_before = 0;
  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
};

std::unique_ptr<DovecotServer> Dovecot::server;
bool Dovecot::started = false;

enum class Trust { ca_file, fingerprint, system_store_only };

struct DovecotCase {
  const char* name;
  const char* security;
  Trust trust;
  const char* refusal;  // nullptr: the maildrop is listed; else the window's text
  const char* reason;   // in the failure reason (the tooltip), for a refusal
  const char* logged;   // in the server's log, for a refusal
};

const DovecotCase dovecot_cases[] = {
    {"tls_on_port_995_trusting_the_ca_file", "tls", Trust::ca_file, nullptr, "", ""},
    {"starttls_on_port_110_trusting_the_ca_file", "starttls", Trust::ca_file, nullptr, "", ""},
    {"tls_pinned_by_fingerprint", "tls", Trust::fingerprint, nullptr, "", ""},
    {"starttls_pinned_by_fingerprint", "starttls", Trust::fingerprint, nullptr, "", ""},
    // The test's CA is in no system store: the handshake fails before any
    // credential, over either mode, and the reason gives the fingerprint seen.
    {"tls_untrusted_sends_nothing", "tls", Trust::system_store_only, "Error", "untrusted", "no auth attempts"},
    {"starttls_untrusted_sends_nothing", "starttls", Trust::system_store_only, "Error", "untrusted",
     "no auth attempts"},
    // The server refuses USER in plain text, and the user reads its reason.
    {"plain_text_is_refused_with_the_servers_reason", "none", Trust::ca_file, "Unknown User",
     "Plaintext authentication disallowed", "Plaintext authentication disabled"},
};

std::string keys(const DovecotCase& c, const DovecotServer& server) {
  std::string text = std::string("security = ") + c.security + "\n";
  if (c.trust == Trust::ca_file) text += "cafile = " + server.ca_file() + "\n";
  if (c.trust == Trust::fingerprint) text += "fingerprint = " + server.fingerprint() + "\n";
  return text;
}

void PrintTo(const DovecotCase& c, std::ostream* out) { *out << c.name; }

class DovecotModes : public Dovecot, public testing::WithParamInterface<DovecotCase> {};

TEST_P(DovecotModes, ChecksTheMaildrop) {
  const DovecotCase& c = GetParam();
  write_account(keys(c, *server));
  wyke_header = "left over from the last check";
  const int lines = WykeView::checkmail(default_headers);
  const std::string top = "top=" + std::to_string(maildrop_size) + "/";
  const std::string log = session_log(c.refusal == nullptr ? top : c.logged);
  if (c.refusal == nullptr) {
    EXPECT_EQ(first_difference(wyke_header, listing()), "");
    EXPECT_EQ(lines, 2 * maildrop_size);
    // One login, over TLS, and the server answered every TOP.
    EXPECT_NE(log.find("Login: user=<alice>, method=PLAIN"), std::string::npos) << log;
    EXPECT_NE(log.find(", TLS"), std::string::npos) << log;
    EXPECT_NE(log.find(top), std::string::npos) << log;
  } else {
    EXPECT_EQ(wyke_header, c.refusal);
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(log.find("Login: "), std::string::npos) << log;
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_NE(report_reason().find(c.reason), std::string::npos) << report_reason();
    if (c.trust == Trust::system_store_only) {
      EXPECT_NE(report_reason().find(server->fingerprint()), std::string::npos) << report_reason();
    }
  }
}

// Two accounts of the one server at once, one over each mode, each listed
// whole under its heading.
TEST_F(Dovecot, TwoAccountsAtOnce) {
  home.write("Mail/accounts",
             account("name = tls\nsecurity = tls\ncafile = " + server->ca_file() + "\n") +
                 account("name = stls\nsecurity = starttls\nfingerprint = " + server->fingerprint() + "\n"),
             0600);
  const int lines = WykeView::checkmail(default_headers);
  const std::string rule = "\u2500\u2500";
  const std::string want = rule + " tls " + rule + "\n" + listing() + "\n" + rule + " stls " + rule + "\n" + listing();
  EXPECT_EQ(first_difference(wyke_header, want), "") << report_reason();
  EXPECT_EQ(lines, 2 + 4 * maildrop_size);
}

INSTANTIATE_TEST_SUITE_P(Modes, DovecotModes, testing::ValuesIn(dovecot_cases),
                         [](const testing::TestParamInfo<DovecotCase>& info) { return info.param.name; });

}  // namespace
