// The --debug log over whole checks against the scripted server, in plain
// text and over TLS: it shows the exchange but never the password.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "netns.h"
#include "platform/debug_log.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "temp_config.h"
#include "test_certs.h"
#include "wyke.h"

namespace {

using namespace std::chrono_literals;
using wyke_test::ScriptedPop3Server;
using TlsStart = ScriptedPop3Server::TlsStart;

// A password no other text of a session could hold by chance.
const std::string password = "Qx7-distinctive-PASSWORD-9z";

// How a session is protected, and where in it PASS comes (0 is the greeting,
// n the n-th command line).
struct Mode {
  const char* security;
  bool tls;
  TlsStart start;
  std::uint16_t port;
  int pass_step;
};

const Mode modes[] = {
    {"none", false, TlsStart::immediately, 110, 2},       // USER, PASS
    {"tls", true, TlsStart::immediately, 995, 3},         // CAPA, USER, PASS
    {"starttls", true, TlsStart::on_stls, 110, 5},        // CAPA, STLS, CAPA, USER, PASS
};

struct SessionCase {
  const char* name;
  std::string command;  // the command whose answer is changed; empty: none
  std::string reply;
  bool cut_pass_reply;  // the connection closes instead of answering PASS
  bool pass_sent;
};

const SessionCase session_cases[] = {
    {"accepted", "", "", false, true},
    {"password refused", "PASS", "-ERR [AUTH] Authentication failed.\r\n", false, true},
    {"user refused, no PASS", "USER", "-ERR no such user\r\n", false, false},
    {"closed instead of answering PASS", "", "", true, true},
};

class DebugLog : public testing::Test {
 protected:
  static void SetUpTestSuite() { certs = new wyke_test::TestCertificates; }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void SetUp() override { WYKE_REQUIRE_PRIVATE_NETWORK(); }
  void TearDown() override {
    debug_log_enabled = false;
    wyke_header.clear();
  }

  // The account of `mode`, trusting the test CA through cafile. The
  // password is in the file, or comes from a command that reads it from
  // a file of its own, as a keyring lookup would.
  void account(const Mode& mode, bool from_command = false) {
    std::string keys = "[account]\nhost = localhost\nuser = alice\nsecurity = " + std::string(mode.security) + "\n";
    if (from_command) {
      home.write("kept-secret", password + "\n", 0600);
      keys += "password_command = cat '" + home.path("kept-secret") + "'\n";
    } else {
      keys += "password = " + password + "\n";
    }
    if (mode.tls) keys += "cafile = " + certs->ca() + "\n";
    home.write("Mail/accounts", keys, 0600);
  }
  // A server for `mode` with the account's login.
  static void set_up(ScriptedPop3Server& server, const Mode& mode) {
    server.set_login("alice", password);
    if (!mode.tls) return;
    server.use_tls(mode.start, certs->good().certificate, certs->good().key);
    server.set_capabilities({"TOP", "USER", "STLS"});
  }

  // The stderr of one whole check with the log on.
  std::string logged_check() {
    debug_log_enabled = true;
    testing::internal::CaptureStderr();
    WykeView::checkmail({"From:", "Subject:"});
    debug_log_enabled = false;
    return testing::internal::GetCapturedStderr();
  }

  static inline wyke_test::TestCertificates* certs = nullptr;
  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits{2000};
};

TEST_F(DebugLog, ShowsTheExchangeButNeverThePassword) {
  for (const Mode& mode : modes)
    for (const SessionCase& c : session_cases)
      for (const bool from_command : {false, true}) {
        SCOPED_TRACE(std::string(mode.security) + ": " + c.name + (from_command ? ", from a command" : ""));
        ScriptedPop3Server server{{"From: Ann <ann@example.org>\r\nSubject: Lunch\r\n"}};
        set_up(server, mode);
        if (!c.command.empty()) server.set_reply(c.command, c.reply);
        if (c.cut_pass_reply) server.cut_reply(mode.pass_step, 0);
        ASSERT_TRUE(server.start("127.0.0.1", mode.port)) << server.error();
        account(mode, from_command);

        const std::string log = logged_check();
        ASSERT_TRUE(server.wait_for_sessions(1, 10s));
        EXPECT_EQ(log.find(password), std::string::npos) << log;
        EXPECT_NE(log.find("C: USER alice\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("C: PASS ***\n") != std::string::npos, c.pass_sent) << log;
        // The server did get the real password: only the log hides it.
        const std::vector<std::string> wire = server.log();
        EXPECT_EQ(std::count(wire.begin(), wire.end(), "PASS " + password), c.pass_sent ? 1 : 0);
      }
}

// "wyke: 12:34:56.789 C: ..." (or "S:", or "*" for a note).
bool stamped_and_tagged(const std::string& line) {
  const std::string shape = "wyke: 00:00:00.000 ";
  if (line.size() < shape.size() + 2) return false;
  for (std::size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i]) return false;
  const std::string tag = line.substr(shape.size(), 3);
  return tag == "C: " || tag == "S: " || tag.rfind("* ", 0) == 0;
}

TEST_F(DebugLog, EveryLineIsTimeStampedAndTagged) {
  const Mode& mode = modes[2];  // notes, and lines before and after the handshake
  ScriptedPop3Server server{{"Subject: one\r\n"}};
  set_up(server, mode);
  ASSERT_TRUE(server.start("127.0.0.1", mode.port)) << server.error();
  account(mode);
  const std::string log = logged_check();
  ASSERT_FALSE(log.empty());
  std::size_t begin = 0;
  for (std::size_t end = log.find('\n'); end != std::string::npos; begin = end + 1, end = log.find('\n', begin))
    EXPECT_TRUE(stamped_and_tagged(log.substr(begin, end - begin))) << log.substr(begin, end - begin);
  EXPECT_EQ(begin, log.size()) << "the log ends with a whole line";
  EXPECT_NE(log.find("S: +OK POP3 server ready\n"), std::string::npos) << log;
  EXPECT_NE(log.find("C: STLS\n"), std::string::npos) << log;
  EXPECT_NE(log.find("S: Subject: one\n"), std::string::npos) << log;
}

TEST_F(DebugLog, OffByDefaultPrintsNothing) {
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.security);
    ScriptedPop3Server server{{"Subject: one\r\n"}};
    set_up(server, mode);
    ASSERT_TRUE(server.start("127.0.0.1", mode.port)) << server.error();
    account(mode);
    testing::internal::CaptureStderr();
    WykeView::checkmail({"Subject:"});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(wyke_header, "Subject: one") << "the check itself went through";
  }
}

}  // namespace
