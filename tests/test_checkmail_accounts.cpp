// Whole checks of several accounts at once, each its own scripted server on
// an address of the test's loopback: the text under each account's heading,
// the tooltip, each account's exchange being the one it would have alone,
// and a single account's text byte for byte what it has always been.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "netns.h"
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
const Lines headers = {"From:", "Subject:"};
const Lines plain_exchange = {"USER alice", "PASS secret", "STAT", "STAT", "TOP 1 0", "STAT", "QUIT", "QUIT"};

// How an account's server behaves.
enum class Server { lists, empty, refuses_password, silent, none };

struct Account {
  const char* keys;  // beside host, user and password
  Server server;
};

struct MixCase {
  const char* name;
  std::vector<Account> accounts;  // the n-th on 127.0.0.(n+1)
  std::string text;
  std::vector<std::string> reasons;  // in the tooltip, in this order
};

const std::vector<MixCase> mixes = {
    {"one_account_as_ever", {{"", Server::lists}}, "Subject: Hi 1", {}},
    {"one_account_named_shows_no_heading", {{"name = Work", Server::lists}}, "Subject: Hi 1", {}},
    {"two_with_mail",
     {{"name = Work", Server::lists}, {"", Server::lists}},
     "\u2500\u2500 Work \u2500\u2500\nSubject: Hi 1\n\u2500\u2500 alice@127.0.0.2 \u2500\u2500\nSubject: Hi 2",
     {}},
    {"one_failing_one_fine",
     {{"name = Work", Server::refuses_password}, {"name = Home", Server::empty}},
     "\u2500\u2500 Work \u2500\u2500\nWrong Password\n\u2500\u2500 Home \u2500\u2500\nYou have no mail in your maildrop.",
     {"Work: 127.0.0.1 refused the password"}},
    {"one_hanging_one_fine",
     {{"name = Slow", Server::silent}, {"name = Fast", Server::lists}},
     "\u2500\u2500 Slow \u2500\u2500\nError\n\u2500\u2500 Fast \u2500\u2500\nSubject: Hi 2",
     {"Slow: "}},
    {"nobody_listening_on_the_first",
     {{"name = Gone", Server::none}, {"name = Here", Server::lists}, {"name = Also", Server::lists}},
     "\u2500\u2500 Gone \u2500\u2500\nError\n\u2500\u2500 Here \u2500\u2500\nSubject: Hi 2\n\u2500\u2500 Also \u2500\u2500\nSubject: Hi 3",
     {"Gone: "}},
    {"check_no_leaves_one_account_as_ever", {{"check = no", Server::lists}, {"check = yes", Server::lists}},
     "Subject: Hi 2", {}},
    {"check_no_in_the_middle",
     {{"name = A", Server::lists}, {"name = B\ncheck = no", Server::lists}, {"name = C", Server::lists}},
     "\u2500\u2500 A \u2500\u2500\nSubject: Hi 1\n\u2500\u2500 C \u2500\u2500\nSubject: Hi 3",
     {}},
    {"bad_value_in_the_second",
     {{"name = Good", Server::lists}, {"name = Bad\nport = 0", Server::lists}},
     "\u2500\u2500 Good \u2500\u2500\nSubject: Hi 1\n\u2500\u2500 Bad \u2500\u2500\nError",
     {"Bad: account 1 in ", "the port must be a number"}},
    {"bad_check_value_is_that_accounts_error",
     {{"name = Good", Server::lists}, {"name = Odd\ncheck = maybe", Server::lists}},
     "\u2500\u2500 Good \u2500\u2500\nSubject: Hi 1\n\u2500\u2500 Odd \u2500\u2500\nError",
     {"Odd: account 1 in ", "the check must be yes or no"}},
    {"every_account_left_out", {{"check = no", Server::lists}, {"check = no", Server::lists}}, "Error",
     {"every [account] of the accounts file has check = no"}},
};

std::string address(std::size_t n) { return "127.0.0." + std::to_string(n + 1); }

class CheckmailAccounts : public testing::Test {
 protected:
  void SetUp() override { WYKE_REQUIRE_PRIVATE_NETWORK(); }
  void TearDown() override { wyke_header.clear(); }

  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
};

TEST_F(CheckmailAccounts, EveryMixOfAccountsShowsEachAccountsOwnPart) {
  // The silent server's answer never comes: its account waits out its own
  // receive time-out while the others list.
  for (const MixCase& c : mixes) {
    SCOPED_TRACE(c.name);
    std::string file;
    std::vector<std::unique_ptr<ScriptedPop3Server>> servers;
    for (std::size_t n = 0; n < c.accounts.size(); ++n) {
      const Account& a = c.accounts[n];
      file += "[account]\nhost = " + address(n) + "\nuser = alice\npassword = secret\n" + a.keys + "\n";
      auto& server = servers.emplace_back(std::make_unique<ScriptedPop3Server>(
          Lines{"Subject: Hi " + std::to_string(n + 1) + "\r\n"}));
      if (a.server == Server::empty) server->set_maildrop({});
      if (a.server == Server::refuses_password) server->set_reply("PASS", "-ERR no\r\n");
      if (a.server == Server::silent) server->go_silent_at(0);
      if (a.server != Server::none) {
        ASSERT_TRUE(server->start(address(n), pop3port)) << server->error();
      }
    }
    home.write("Mail/accounts", file, 0600);

    testing::internal::CaptureStderr();
    const int lines = WykeView::checkmail(headers);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(wyke_header, c.text);
    EXPECT_EQ(lines, std::count(c.text.begin(), c.text.end(), '\n') + 1);

    // The tooltip gives each failing account's reason on a line of its own,
    // and stderr the same.
    const std::string tip = report_reason();
    std::size_t at = 0;
    for (const std::string& reason : c.reasons) {
      at = tip.find(reason, at);
      EXPECT_NE(at, std::string::npos) << reason << " in " << tip;
      EXPECT_NE(said.find(reason), std::string::npos) << said;
    }
    if (c.reasons.empty()) {
      EXPECT_EQ(tip, "");
    }

    // Each account that listed had exactly the exchange it has alone; one
    // left out or refused by the file was never contacted.
    for (std::size_t n = 0; n < servers.size(); ++n) {
      if (c.accounts[n].server != Server::lists) continue;
      if (c.text.find("Hi " + std::to_string(n + 1)) == std::string::npos) {
        EXPECT_EQ(servers[n]->log(), Lines{}) << address(n);
        continue;
      }
      ASSERT_TRUE(servers[n]->wait_for_sessions(1, bounded));
      EXPECT_EQ(servers[n]->log(), plain_exchange) << address(n);
    }
  }
}

// A keyring asks the user once: two accounts' password commands never run
// at the same time. Each takes a turn of its own by making a folder that
// only one can make, held for a while; overlapping, the second fails.
TEST_F(CheckmailAccounts, PasswordCommandsTakeTurns) {
  const std::string turn = home.path("turn");
  const std::string command = "password_command = mkdir " + turn + " && echo secret && sleep 0.2 && rmdir " + turn;
  std::string file;
  std::vector<std::unique_ptr<ScriptedPop3Server>> servers;
  for (std::size_t n = 0; n < 3; ++n) {
    file += "[account]\nhost = " + address(n) + "\nuser = alice\n" + command + "\nname = " + std::to_string(n) + "\n";
    auto& server = servers.emplace_back(std::make_unique<ScriptedPop3Server>(Lines{}));
    ASSERT_TRUE(server->start(address(n), pop3port)) << server->error();
  }
  home.write("Mail/accounts", file, 0600);
  WykeView::checkmail(headers);
  const std::string none = "You have no mail in your maildrop.";
  EXPECT_EQ(wyke_header, "\u2500\u2500 0 \u2500\u2500\n" + none + "\n\u2500\u2500 1 \u2500\u2500\n" + none +
                             "\n\u2500\u2500 2 \u2500\u2500\n" + none)
      << report_reason();
}

}  // namespace
