// Where a check gets its secret: the accounts file or a command the account
// names; what the user is told when that fails, and that nothing is sent then.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "credentials.h"
#include "netns.h"
#include "platform/helper_command.h"
#include "platform/report.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using wyke_test::ScriptedPop3Server;

constexpr auto bounded = 10s;
const Lines listed = {"From: Ann <ann@example.org>\r\nSubject: Lunch\r\n"};

class Credentials : public testing::Test {
 protected:
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
  }
  void TearDown() override {
    wyke_header.clear();
    helper_command_timeout_ms = helper_command_default_timeout_ms;
  }

  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
  ScriptedPop3Server server{listed};
};

struct SecretCase {
  const char* name;
  std::string keys;  // the account's lines after host and user
  std::string text;  // what the window shows
  std::string reason;  // a part of the reason; empty: none
  // A command's bound: short only where the case is to pass it, so that one
  // slow to start on a loaded machine is not taken for one that hangs.
  int bound_ms = helper_command_default_timeout_ms;
};

// A reason goes to stderr once while it persists: each case's differs from the one before.
const std::vector<SecretCase> secret_cases = {
    {"neither", "", "Error", "no password: set password, or password_command"},
    {"password_in_the_file", "password = secret", "From: Ann <ann@example.org>\nSubject: Lunch", ""},
    {"password_from_a_command", "password_command = printf 'secret\\n'", "From: Ann <ann@example.org>\nSubject: Lunch",
     ""},
    {"command_line_in_cr_lf", "password_command = printf 'secret\\r\\n'",
     "From: Ann <ann@example.org>\nSubject: Lunch", ""},
    {"command_line_with_a_nul", "password_command = printf 'sec\\000ret\\n'", "Error",
     "the password_command printed a line with a NUL byte"},
    {"command_fails_with_a_message", "password_command = echo secret; echo 'no such entry' >&2; exit 1", "Error",
     "account 0: the password_command exited with status 1: no such entry"},
    {"command_prints_nothing", "password_command = true", "Error", "the password_command printed nothing"},
    {"command_past_the_bound", "password_command = echo secret; sleep 30", "Error",
     "the password_command gave no answer within 1 s and was ended", 1000},
    {"both", "password = secret\npassword_command = printf secret", "Error",
     "both password and password_command are set"},
    {"token_without_its_command", "auth = xoauth2\nsecurity = tls\npassword = secret", "Error",
     "auth = xoauth2 needs an oauth_token_command"},
    {"token_without_tls", "auth = xoauth2\noauth_token_command = echo secret", "Error",
     "auth = xoauth2 sends an access token, so it needs security = tls or starttls"},
};

TEST_F(Credentials, TheSecretOrWhyNot) {
  int ended = 0;  // sessions the server has seen end
  for (const SecretCase& c : secret_cases) {
    SCOPED_TRACE(c.name);
    helper_command_timeout_ms = c.bound_ms;
    home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = alice\n" + c.keys + "\n", 0600);
    const std::size_t sessions = server.log().size();
    testing::internal::CaptureStderr();
    WykeView::checkmail({"From:", "Subject:"});
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(wyke_header, c.text);
    if (c.reason.empty()) {
      EXPECT_EQ(report_reason(), "");
      ASSERT_TRUE(server.wait_for_log_lines(sessions + 2, bounded));
      EXPECT_EQ(server.log()[sessions + 1], "PASS secret");
      // The server logs the session's last lines after the check has
      // returned: ended, it adds none to the next case's.
      ASSERT_TRUE(server.wait_for_sessions(++ended, bounded));
      continue;
    }
    EXPECT_NE(report_reason().find(c.reason), std::string::npos) << report_reason();
    EXPECT_NE(said.find(c.reason), std::string::npos) << said;
    EXPECT_EQ(said.find("secret"), std::string::npos) << "no secret on stderr: " << said;
    EXPECT_EQ(server.log().size(), sessions) << "nothing sent without the secret";
  }
}

// The check's deadline runs from before the password command: one that
// outlasts it leaves no time to sign in.
TEST_F(Credentials, TheDeadlineCountsThePasswordCommand) {
  pop3_check_deadline_ms = 100;
  home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = alice\npassword_command = sleep 0.3; echo secret\n",
             0600);
  testing::internal::CaptureStderr();
  WykeView::checkmail({"From:", "Subject:"});
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(wyke_header, "Error");
  EXPECT_NE(report_reason().find("ran out of time"), std::string::npos) << report_reason();
  EXPECT_EQ(server.log().size(), 0u) << "nothing sent after the deadline";
}

// An empty password line is a password the user gave, sent as it stands.
TEST_F(Credentials, AnEmptyPasswordIsStillSent) {
  home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = alice\npassword =\n", 0600);
  testing::internal::CaptureStderr();
  WykeView::checkmail({"From:", "Subject:"});
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(wyke_header, "Wrong Password");
  ASSERT_TRUE(server.wait_for_log_lines(2, bounded));
  EXPECT_EQ(server.log()[1], "PASS ");
}

TEST(PlainText, WhichHostsAreOffThisMachine) {
  const std::vector<std::pair<const char*, bool>> cases = {
      {"127.0.0.1", false},   {"127.255.3.9", false},      {"127.1", false},         {"localhost", false},
      {"::1", false},         {"0:0:0:0:0:0:0:1", false},  {"128.0.0.1", true},      {"126.255.255.255", true},
      {"192.0.2.1", true},    {"::ffff:192.0.2.1", true},  {"2001:db8::1", true},    {"pop.example.org", true},
      {"localhost.example.org", true}, {"", true},
  };
  for (const auto& [host, crosses] : cases) EXPECT_EQ(crosses_network(host), crosses) << host;
}

// Once per process: this is the only test here that checks a remote host.
TEST_F(Credentials, PlainTextOffThisMachineIsToldOnce) {
  struct Step {
    std::string security;
    std::string user;
    bool warned;
  };
  // A second account in plain text is told of its own.
  const std::vector<Step> steps = {
      {"tls", "alice", false}, {"none", "alice", true}, {"none", "alice", false}, {"none", "bob", true}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.security);
    // TEST-NET-1: no route from the test's private network, so the check ends at once.
    home.write("Mail/accounts",
               "[account]\nhost = 192.0.2.1\nuser = " + step.user + "\npassword = secret\nsecurity = " +
                   step.security + "\n",
               0600);
    testing::internal::CaptureStderr();
    WykeView::checkmail({"From:"});
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string warning = "wyke: the password for " + step.user +
                                " crosses the network to 192.0.2.1 unencrypted; set security = tls (port 995) or "
                                "security = starttls";
    EXPECT_EQ(said.find(warning) != std::string::npos, step.warned) << said;
    EXPECT_EQ(wyke_header, "Error");
  }
}

}  // namespace
