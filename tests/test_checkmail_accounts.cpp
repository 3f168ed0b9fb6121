// Whole checks of several accounts, each its own scripted server on an
// address of the test's loopback: each account's part under its heading,
// the tooltip, each exchange the one it has alone, one account as ever.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "netns.h"
#include "platform/report.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using Lines = std::vector<std::string>;
using wyke_test::ScriptedPop3Server;

enum class Server { lists, empty, refuses_password, silent, none };
struct Account {
  std::string keys;  // beside host and user; password = secret unless a command is named
  Server server;
};

// Two at once fail to make the folder: a keyring would have asked twice.
const std::string turn = "name = T\npassword_command = mkdir \"$XDG_CONFIG_HOME/turn\" && echo secret && sleep 0.2 && "
                         "rmdir \"$XDG_CONFIG_HOME/turn\"";
const Lines alone = {"USER alice", "PASS secret", "STAT", "STAT", "TOP 1 0", "STAT", "QUIT", "QUIT"};
const std::string rule = "\u2500\u2500";
std::string head(const std::string& name) { return rule + " " + name + " " + rule + "\n"; }

const struct {
  const char* name;
  std::vector<Account> accounts;  // the n-th on 127.0.0.(n+1)
  std::string text;
  Lines reasons;  // in the tooltip and on stderr, in this order
} mixes[] = {
    {"one_account_as_ever", {{"name = Work", Server::lists}}, "Subject: Hi 1", {}},
    {"two_with_mail", {{"name = Work", Server::lists}, {"", Server::lists}},
     head("Work") + "Subject: Hi 1\n" + head("alice@127.0.0.2") + "Subject: Hi 2", {}},
    {"one_failing_one_fine", {{"name = Work", Server::refuses_password}, {"name = Home", Server::empty}},
     head("Work") + "Wrong Password\n" + head("Home") + "You have no mail in your maildrop.",
     {"Work: 127.0.0.1 refused the password"}},
    {"one_hanging_one_fine", {{"name = Slow", Server::silent}, {"name = Fast", Server::lists}},
     head("Slow") + "Error\n" + head("Fast") + "Subject: Hi 2", {"Slow: "}},
    {"nobody_listening", {{"name = Gone", Server::none}, {"name = A", Server::lists}, {"name = B", Server::lists}},
     head("Gone") + "Error\n" + head("A") + "Subject: Hi 2\n" + head("B") + "Subject: Hi 3", {"Gone: "}},
    {"check_no_leaves_one_as_ever", {{"check = no", Server::lists}, {"check = yes", Server::lists}}, "Subject: Hi 2",
     {}},
    {"check_no_between", {{"name = A", Server::lists}, {"check = no", Server::lists}, {"name = C", Server::lists}},
     head("A") + "Subject: Hi 1\n" + head("C") + "Subject: Hi 3", {}},
    {"bad_value_in_the_second", {{"name = Good", Server::lists}, {"name = Bad\ncheck = maybe", Server::lists}},
     head("Good") + "Subject: Hi 1\n" + head("Bad") + "Error", {"Bad: account 1 in ", "check must be yes or no"}},
    {"every_account_left_out", {{"check = no", Server::lists}, {"check = no", Server::lists}}, "Error",
     {"every [account] of the accounts file has check = no"}},
    {"password_commands_take_turns", {{turn, Server::lists}, {turn, Server::lists}, {turn, Server::lists}},
     head("T") + "Subject: Hi 1\n" + head("T") + "Subject: Hi 2\n" + head("T") + "Subject: Hi 3", {}},
};

TEST(CheckmailAccounts, EveryMixShowsEachAccountsOwnPart) {
  WYKE_REQUIRE_PRIVATE_NETWORK();
  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;  // the silent server's account waits out its receive time-out
  for (const auto& c : mixes) {
    SCOPED_TRACE(c.name);
    std::string file;
    std::vector<std::unique_ptr<ScriptedPop3Server>> servers;
    for (const Account& a : c.accounts) {
      const std::string n = std::to_string(servers.size() + 1), host = "127.0.0." + n;
      file += "[account]\nhost = " + host + "\nuser = alice\n" +
              (a.keys.find("password_command") == std::string::npos ? "password = secret\n" : "") + a.keys + "\n";
      auto& server = *servers.emplace_back(std::make_unique<ScriptedPop3Server>(Lines{"Subject: Hi " + n + "\r\n"}));
      if (a.server == Server::empty) server.set_maildrop({});
      if (a.server == Server::refuses_password) server.set_reply("PASS", "-ERR no\r\n");
      if (a.server == Server::silent) server.go_silent_at(0);
      ASSERT_TRUE(a.server == Server::none || server.start(host, pop3port)) << server.error();
    }
    home.write("Mail/accounts", file, 0600);

    testing::internal::CaptureStderr();
    EXPECT_EQ(WykeView::checkmail({"From:", "Subject:"}), std::count(c.text.begin(), c.text.end(), '\n') + 1);
    const std::string said = testing::internal::GetCapturedStderr(), tip = report_reason();
    EXPECT_EQ(wyke_header, c.text);
    std::size_t at = 0;
    for (const std::string& reason : c.reasons) {
      EXPECT_NE(at = tip.find(reason, at), std::string::npos) << reason << " in " << tip;
      EXPECT_NE(said.find(reason), std::string::npos) << said;
    }
    EXPECT_EQ(tip.empty(), c.reasons.empty()) << tip;

    // An account that listed had exactly its exchange alone; one left out
    // or refused by the file was never contacted.
    for (std::size_t n = 0; n < servers.size(); ++n) {
      if (c.accounts[n].server != Server::lists) continue;
      const bool listed = c.text.find("Hi " + std::to_string(n + 1)) != std::string::npos;
      EXPECT_TRUE(!listed || servers[n]->wait_for_sessions(1, std::chrono::seconds(10)));
      EXPECT_EQ(servers[n]->log(), listed ? alone : Lines{});
    }
  }
}

}  // namespace
