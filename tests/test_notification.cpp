// The notifier's desktop notifications, on a session bus of the test's own
// with a notification service that records each call: what is told as new,
// once, replacing the note before; nothing at all without a service or with
// `notify = no`; a click brings the notifier back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gui/notification.h"
#include "gui_app.h"
#include "netns.h"
#include "platform/debug_log.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "session_bus.h"
#include "wyke.h"

namespace {

using namespace wyke_test;
using Lines = std::vector<std::string>;

const std::string ann = "Message-ID: <1@example.org>\r\nFrom: Ann <ann@example.org>\r\nSubject: Lunch\r\n";
const std::string bob = "From: Bob\r\nSubject: Report\r\n";  // no Message-ID
const std::string cy = "Message-ID: <3@example.org>\r\nFrom: =?UTF-8?Q?Cy_=C3=89?=\r\nSubject: <b>Sale</b> & more\r\n";
const std::string dee = "From: Dee\r\nSubject: Hi\r\n";

SessionBus* bus = nullptr;
NotificationService* service = nullptr;

class Notifications : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    bus = new SessionBus;
    // Before Qt starts its threads (setenv beside a thread's getenv is a
    // race) and before the notifier's first note: Qt reads the address once.
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
    gui_app([] { return new Wyke; });
    service = new NotificationService(bus->address());
  }
  static void TearDownTestSuite() {
    delete service;
    delete bus;
  }
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    if (bus->address().empty()) GTEST_SKIP() << bus->error();
    ASSERT_TRUE(service->take_name());
    write_account(home, "127.0.0.1");
    notify(true);
    ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
    window = new WykeWin(BRect(50, 50, 100, 100), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
    window->SetPulseRate(0);
    window->Show();
    seen = service->notes().size();
  }
  void TearDown() override { close_all_windows(); }

  void notify(bool on) {
    std::lock_guard lock(settings_lock);
    checkmail_timer = 300;
    show_header = {"From:", "Subject:"};
    notify_new_mail = on;
  }
  void on_window(std::function<void()> fn) { ASSERT_TRUE(on_window_thread(*window, std::move(fn))); }
  // One check of the notifier against `maildrop`, as its tick runs it.
  void check(Lines maildrop) {
    server.set_maildrop(std::move(maildrop));
    on_window([&] {
      time_count = 300;
      window->ChildAt(0)->Pulse();
    });
  }
  // The notes since the last call: a note of the test's own goes after
  // them through the same bus thread, and once it is there, so are they.
  std::vector<recorded_note> told() {
    BNotification marker(B_INFORMATION_NOTIFICATION);
    marker.SetTitle("marker");
    EXPECT_EQ(marker.Send(), B_OK);
    EXPECT_TRUE(service->wait_for_note("marker", seen, std::chrono::seconds(10)));
    const std::vector<recorded_note> all = service->notes();
    std::vector<recorded_note> since(all.begin() + static_cast<long>(seen), all.end() - 1);
    seen = all.size();
    return since;
  }

  TempConfigHome home;
  ShortSessionWaits waits;
  ScriptedPop3Server server;
  BWindow* window = nullptr;
  std::size_t seen = 0;
};

struct Step {
  const char* name;
  Lines maildrop;
  bool login_fails, notify_off;
  const char* summary;  // null: nothing told
  const char* body;
};

const std::vector<Step> steps = {
    {"waiting_at_start", {ann, bob}, false, false, "2 messages waiting",
     "Ann &lt;ann@example.org&gt; \u2014 Lunch\nBob \u2014 Report"},
    {"same_again", {ann, bob}, false, false, nullptr, nullptr},
    {"one_new_decoded_and_escaped", {ann, bob, cy}, false, false, "Cy \u00c9", "&lt;b&gt;Sale&lt;/b&gt; &amp; more"},
    {"failed_check", {}, true, false, nullptr, nullptr},
    {"no_news_after_a_failure", {ann, bob, cy}, false, false, nullptr, nullptr},
    {"new_without_message_id", {ann, bob, cy, dee}, false, false, "Dee", "Hi"},
    {"one_gone", {ann, cy, dee}, false, false, nullptr, nullptr},
    {"turned_off", {ann, bob, cy, dee}, false, true, nullptr, nullptr},
    {"turned_on_tells_only_news", {ann, bob, cy, dee}, false, false, nullptr, nullptr},
};

TEST_F(Notifications, TellsWhatArrivedOnceReplacingTheNoteBefore) {
  uint first = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    server.set_login("alice", step.login_fails ? "other" : "secret");
    notify(!step.notify_off);
    check(step.maildrop);
    const std::vector<recorded_note> notes = told();
    if (step.summary == nullptr) {
      EXPECT_TRUE(notes.empty()) << notes.front().summary.toStdString();
      continue;
    }
    ASSERT_EQ(notes.size(), 1u);
    const recorded_note& note = notes[0];
    EXPECT_EQ(note.summary.toStdString(), step.summary);
    EXPECT_EQ(note.body.toStdString(), step.body);
    EXPECT_EQ(note.app, "Wyke");
    EXPECT_EQ(note.icon, "wyke");
    EXPECT_EQ(note.hints.value("category").toString(), "email.arrived");
    EXPECT_EQ(note.hints.value("desktop-entry").toString(), "wyke");
    EXPECT_EQ(note.actions.value(0), "default");
    // The first note may replace one of an earlier test.
    if (first != 0) {
      EXPECT_EQ(note.replaces, first);
    }
    first = note.id;
  }
}

// No service: the check goes on, the note is dropped with a line in the
// --debug log, and the next news still reaches a service that has come.
TEST_F(Notifications, WithoutAServiceTheCheckGoesOnAndNothingWaits) {
  service->give_up_name();
  char log_name[] = "/tmp/wyke-stderr.XXXXXX";
  const int log = mkstemp(log_name);
  const int saved = dup(STDERR_FILENO);
  dup2(log, STDERR_FILENO);
  debug_log_enabled = true;
  check({ann});
  const bool logged = pump_until([&] {
    std::ostringstream text;
    text << std::ifstream(log_name).rdbuf();
    return text.str().find("no desktop notification: org.freedesktop.DBus.Error.ServiceUnknown") != std::string::npos;
  }, std::chrono::seconds(10));
  debug_log_enabled = false;
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(log);
  unlink(log_name);
  EXPECT_TRUE(logged);
  on_window([] { EXPECT_EQ(wyke_header, "From: Ann <ann@example.org>\nSubject: Lunch"); });

  ASSERT_TRUE(service->take_name());
  EXPECT_TRUE(told().empty());
  check({ann, bob});
  const std::vector<recorded_note> notes = told();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].summary, "Bob");
}

TEST_F(Notifications, AClickBringsTheNotifierBack) {
  check({ann});
  const std::vector<recorded_note> notes = told();
  ASSERT_EQ(notes.size(), 1u);
  on_window([&] { window->Minimize(true); });
  service->click(notes[0].id);
  EXPECT_TRUE(pump_until([&] {
    bool minimized = true;
    on_window([&] { minimized = window->IsMinimized(); });
    return !minimized;
  }));
}

}  // namespace
