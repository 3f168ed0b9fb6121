// IMAP against a real Dovecot that requires TLS: the unseen messages are
// listed over TLS on port 993 and over STARTTLS on 143, oldest first, and
// the flags on the server are as they were; an IDLE watcher tells of a
// message delivered while it idles, and of the next one after the server
// was stopped and started again.
#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <string>
#include <vector>

#include "account_check.h"
#include "dovecot_server.h"
#include "gui_app.h"
#include "imap_idle.h"
#include "netns.h"
#include "pop3_account.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using namespace std::chrono_literals;
using wyke_test::DovecotServer;

const std::vector<std::string> headers = {"Subject:"};

std::string message(const std::string& subject) {
  return "From: s@example.org\r\nTo: alice@wyke.test\r\nSubject: " + subject + "\r\n\r\nBody\r\n";
}

// Five messages, the second and fourth already read.
std::unique_ptr<DovecotServer> mailbox() {
  std::vector<std::string> drop;
  for (int n = 1; n <= 5; ++n) drop.push_back(message("number " + std::to_string(n)));
  auto server = std::make_unique<DovecotServer>(drop);
  server->mark_seen(1);
  server->mark_seen(3);
  return server;
}

class DovecotImap : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = DovecotServer::unavailable(); !why.empty())
      GTEST_SKIP() << "cannot run Dovecot: " << why;
    server = mailbox();
    ASSERT_TRUE(server->start()) << server->error();
  }

  void write_account(const std::string& security) {
    home.write("Mail/accounts",
               std::string("[account]\nprotocol = imap\nhost = ") + wyke_test::test_host_name + "\nuser = " +
                   DovecotServer::user + "\npassword = " + DovecotServer::password + "\nsecurity = " + security +
                   "\ncafile = " + server->ca_file() + "\n",
               0600);
  }

  std::unique_ptr<DovecotServer> server;
  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
};

TEST_F(DovecotImap, ListsTheUnseenOverEitherModeAndLeavesTheFlags) {
  for (const char* security : {"tls", "starttls"}) {
    SCOPED_TRACE(security);
    write_account(security);
    const auto before = server->flags();
    const account_outcome outcome = check_account(0, headers);
    EXPECT_EQ(outcome.text, "Subject: number 1\nSubject: number 3\nSubject: number 5") << server->log();
    ASSERT_EQ(outcome.messages.size(), 3u);
    EXPECT_EQ(server->flags(), before);
  }
}

TEST_F(DovecotImap, IdleTellsOfNewMailAndOutlivesARestart) {
  write_account("tls");
  std::atomic<int> news{0};
  const std::atomic<int> retry_ms{2000};
  IdleWatcher watcher(0, [&] { ++news; }, retry_ms, [] { return headers; });
  const auto logins = [&] {
    const std::string log = server->log();
    std::size_t n = 0;
    for (std::size_t at = log.find("imap-login: Login:"); at != std::string::npos; at = log.find("imap-login: Login:", at + 1)) ++n;
    return n;
  };
  const auto more_news = [&](int seen, std::chrono::seconds bound) {
    return wyke_test::pump_until([&] { return news > seen; }, bound);
  };

  // Delivered while it idles: news within a bound, and the check shows it.
  ASSERT_TRUE(wyke_test::pump_until([&] { return watcher.idles() > 0; }, 20s)) << server->log();
  ASSERT_EQ(watcher.idles(), 1) << server->log();
  const int before = news;
  server->deliver(message("arrived while idling"), "1800000000.M1P1.wyke");
  ASSERT_TRUE(more_news(before, 20s)) << server->log();
  // The check the news starts shows what the watcher listed on its own
  // connection: no second login.
  const std::size_t logged_in = logins();
  EXPECT_NE(check_account(0, headers).text.find("arrived while idling"), std::string::npos);
  EXPECT_EQ(logins(), logged_in) << server->log();

  // Stopped and started again: it connects again and says so (news may
  // have come meanwhile), then tells of the next message.
  const int before_restart = news;
  ASSERT_TRUE(server->restart()) << server->error();
  ASSERT_TRUE(more_news(before_restart, 30s)) << server->log();
  const int after_restart = news;
  server->deliver(message("arrived after the restart"), "1800000001.M2P1.wyke");
  ASSERT_TRUE(more_news(after_restart, 30s)) << server->log();
  EXPECT_NE(check_account(0, headers).text.find("arrived after the restart"), std::string::npos);
  EXPECT_FALSE(watcher.ended());
}

// The whole path: the notifier's check starts the watcher, the server's
// news reaches the window's thread, and the window shows the new message
// long before its next tick (an hour away).
TEST_F(DovecotImap, TheNotifierShowsPushedMailAtOnce) {
  write_account("tls");
  wyke_test::gui_app([] { return new Wyke; });
  {
    std::lock_guard lock(settings_lock);
    checkmail_timer = 3600;
    closewindow_timer = 0;
    show_header = headers;
  }
  auto* window = new WykeWin(BRect(50, 50, 100, 100), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
  window->SetPulseRate(0);
  window->Show();
  const auto on_window = [&](std::function<void()> fn) { return wyke_test::on_window_thread(*window, fn); };
  ASSERT_TRUE(on_window([&] {
    time_count = 3600;
    window->ChildAt(0)->Pulse();
  }));
  int idling = 0;
  ASSERT_TRUE(wyke_test::pump_until(
      [&] { return on_window([&] { idling = window->idle_watchers().idling(); }) && idling == 1; }, 20s));
  server->deliver(message("pushed to the window"), "1800000002.M3P1.wyke");
  std::string shown;
  EXPECT_TRUE(wyke_test::pump_until(
      [&] { return on_window([&] { shown = wyke_header; }) && shown.find("pushed") != std::string::npos; }, 20s))
      << shown;
  wyke_test::close_all_windows();
  wyke_header.clear();
  time_count = 0;
}

}  // namespace
