// The notifier's desktop notifications, on a session bus of the test's own
// with a notification service that records each call: what is told as new,
// once, replacing the note before; nothing at all without a service or with
// `notify = no`; a click brings the notifier back.
#include <gtest/gtest.h>

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

std::string bus_address, bus_failure;
NotificationService* service = nullptr;

class Notifications : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    bus_address = start_session_bus(bus_failure);
    // Before Qt starts its threads (setenv beside a thread's getenv is a
    // race) and before the notifier's first note: Qt reads the address once.
    setenv("DBUS_SESSION_BUS_ADDRESS", bus_address.c_str(), 1);
    gui_app([] { return new Wyke; });
    service = new NotificationService(bus_address);
  }
  static void TearDownTestSuite() { delete service; }
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    if (bus_address.empty()) GTEST_SKIP() << bus_failure;
    ASSERT_TRUE(service->own_name(true));
    write_account(home, "127.0.0.1");
    notify(true);
    ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
    window = new WykeWin(BRect(50, 50, 100, 100), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
    window->SetPulseRate(0);
    window->Show();
    seen = service->notes.size();
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
    const auto& all = service->notes;
    if (!pump_until([&] { return all.size() > seen && all.back().summary == "marker"; }, 10s)) {
      ADD_FAILURE() << "the test's own note never came";
      return {};
    }
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
  const char* summary = nullptr;  // null: nothing told
  const char* body = nullptr;
  bool login_fails = false, notify_off = false;
};

const std::vector<Step> steps = {
    {"waiting_at_start", {ann, bob}, "2 messages waiting", "Ann &lt;ann@example.org&gt; \u2014 Lunch\nBob \u2014 Report"},
    {"same_again", {ann, bob}},
    {"one_new_decoded_and_escaped", {ann, bob, cy}, "Cy \u00c9", "&lt;b&gt;Sale&lt;/b&gt; &amp; more"},
    {"failed_check", {}, nullptr, nullptr, true},
    {"no_news_after_a_failure", {ann, bob, cy}},
    {"new_without_message_id", {ann, bob, cy, dee}, "Dee", "Hi"},
    {"one_gone", {ann, cy, dee}},
    {"turned_off", {ann, bob, cy, dee}, nullptr, nullptr, false, true},
    {"turned_on_tells_only_news", {ann, bob, cy, dee}},
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
      EXPECT_TRUE(notes.empty()) << notes.front().summary;
      continue;
    }
    ASSERT_EQ(notes.size(), 1u);
    const recorded_note& n = notes[0];
    EXPECT_EQ((std::vector{n.summary, n.body, n.app, n.icon, n.category, n.desktop_entry, n.first_action}),
              (std::vector<std::string>{step.summary, step.body, "Wyke", "wyke", "email.arrived", "wyke", "default"}));
    // The first note may replace one of an earlier test.
    EXPECT_EQ(n.replaces, first == 0 ? n.replaces : first);
    first = n.id;
  }
}

// No service: the check goes on, the note is dropped with a line in the
// --debug log, and the next news still reaches a service that has come.
TEST_F(Notifications, WithoutAServiceTheCheckGoesOnAndNothingWaits) {
  service->own_name(false);
  testing::internal::CaptureStderr();
  debug_log_enabled = true;
  check({ann});
  // While captured, stderr is a file that can be read afresh as it grows.
  EXPECT_TRUE(pump_until([] {
    std::ostringstream text;
    text << std::ifstream("/proc/self/fd/2").rdbuf();
    return text.str().find("no desktop notification: org.freedesktop.DBus.Error.ServiceUnknown") != std::string::npos;
  }, 10s));
  debug_log_enabled = false;
  testing::internal::GetCapturedStderr();
  on_window([] { EXPECT_EQ(wyke_header, "From: Ann <ann@example.org>\nSubject: Lunch"); });

  ASSERT_TRUE(service->own_name(true));
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
