// The notifier offscreen, against a scripted server: start-up, the view tree,
// the tick's timing, the window sized to its text, the clicks that open the
// settings window, the About box and closing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/alert.h"
#include "gui/controls.h"
#include "synthetic.h"
#include "gui_app.h"
#include "netns.h"
#include "platform/report.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "repeat.h"
#include "temp_config.h"
#include "wyke.h"
#include "platform/network_cancel.h"
#include "wykesub.h"

namespace {

using namespace wyke_test;
using Lines = std::vector<std::string>;

const Lines one_message = {"From: Ann <ann@example.org>\r\nSubject: Lunch\r\n"};

class Notifier : public testing::Test {
 protected:
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    gui_app([] { return new Wyke; });
    write_account(home, "127.0.0.1");
    settings(300, 15);
    ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
  }
  void TearDown() override {
    close_all_windows();
    reset_network_cancel();  // a test's close box cancelled the network waits
    f_config = true;
    time_count = 0;
    wyke_header.clear();
  }

  void settings(int check, int close, int font = 12, Lines headers = {"From:", "Subject:"}) {
    std::lock_guard lock(settings_lock);
    checkmail_timer = check;
    closewindow_timer = close;
    fontsize = font;
    show_header = std::move(headers);
  }
  // A notifier that ticks only when a test says so.
  void open() {
    window = new WykeWin(BRect(50, 50, 100, 100), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
    window->SetPulseRate(0);
    view = window->ChildAt(0);
    contents = dynamic_cast<BTextView*>(view->ChildAt(0));
    window->Show();
  }
  void on_window(std::function<void()> fn) { ASSERT_TRUE(on_window_thread(*window, std::move(fn))); }
  void tick() { on_window([&] { view->Pulse(); }); }
  int count() {
    int value = 0;
    on_window([&] { value = time_count; });
    return value;
  }
  void set_count(int value) {
    on_window([&] { time_count = value; });
  }
  bool minimized() {
    bool value = false;
    on_window([&] { value = window->IsMinimized(); });
    return value;
  }
  std::string text() {
    std::string value;
    on_window([&] { value = wyke_header; });
    return value;
  }
  // What the window measures, and what its text measures.
  BRect window_size() {
    BRect bounds;
    on_window([&] { bounds = window->Bounds(); });
    return bounds;
  }
  BRect text_size(int lines) {
    float width = 0, height = 0;
    on_window([&] {
      for (int32 i = 0; i < lines; ++i) width = std::max(width, contents->LineWidth(i));
      height = contents->TextHeight(0, lines - 1);
    });
    return BRect(0, 0, width, height);
  }
  BRect square_line() {
    float line = 0;
    on_window([&] { line = contents->TextHeight(0, 0); });
    return BRect(0, 0, line, line);
  }
  // Sessions the server has seen, each begun with USER.
  int checks() const {
    int n = 0;
    for (const std::string& line : server.log()) n += line == "USER alice";
    return n;
  }
  BWindow* settings_window() const { return be_app->CountWindows() > 1 ? be_app->WindowAt(1) : nullptr; }

  TempConfigHome home;
  ShortSessionWaits waits;
  ScriptedPop3Server server{one_message};
  BWindow* window = nullptr;
  BView* view = nullptr;
  BTextView* contents = nullptr;
};

// --- Start-up ---------------------------------------------------------------------------

void find_notifier(BWindow*& window, BView*& view, BTextView*& contents) {
  ASSERT_EQ(be_app->CountWindows(), 1);
  window = be_app->WindowAt(0);
  view = window->ChildAt(0);
  contents = dynamic_cast<BTextView*>(view->ChildAt(0));
  ASSERT_NE(contents, nullptr);
}

TEST_F(Notifier, StartUpShowsTheWindowAndFillsItWithTheFirstCheck) {
  be_app->ReadyToRun();
  find_notifier(window, view, contents);
  EXPECT_STREQ(window->Title(), "wyke");
  EXPECT_STREQ(be_app->Signature(), "application/x-vnd.z_qel-Wyke");
  bool hidden = true;
  bigtime_t rate = 0;
  // Queued behind the first check, which comes ahead of any tick.
  on_window([&] {
    hidden = window->IsHidden();
    rate = window->PulseRate();
  });
  EXPECT_EQ(checks(), 1);
  EXPECT_FALSE(hidden);
  EXPECT_EQ(rate, 1000000);
  EXPECT_EQ(text(), "From: Ann <ann@example.org>\nSubject: Lunch");
  EXPECT_EQ(window_size(), text_size(2));
}

// A server that never answers: the window is on screen, saying a check runs,
// and its close box ends the check.
TEST_F(Notifier, StartUpShowsTheWindowWhileTheFirstCheckHangs) {
  pop3_receive_timeout_ms = 0;
  server.go_silent_at(0);
  be_app->ReadyToRun();
  find_notifier(window, view, contents);
  EXPECT_FALSE(window->IsHidden());
  ASSERT_TRUE(pump_until([&] { return server.log().empty() && window->PulseRate() == 0; })) << "a check has begun";
  EXPECT_STREQ(contents->Text(), checking_text);
  gui_synthetic::close_box(*window);
  EXPECT_TRUE(pump_until([] { return be_app->CountWindows() == 0; }, std::chrono::seconds(3)));
}

TEST_F(Notifier, StartUpChecksAtOnceWhateverTheInterval) {
  settings(-5, 15);
  be_app->ReadyToRun();
  find_notifier(window, view, contents);
  on_window([] {});
  EXPECT_EQ(checks(), 1);
  EXPECT_EQ(snapshot_settings().checkmail_timer, -5);
}

// --- The tick's timing --------------------------------------------------------------------

struct TimingCase {
  const char* name;
  int checktime, closetime;
  int minimized_from;  // first tick after a check that leaves the window minimized; 0: none
};

const std::vector<TimingCase> timing_cases = {
    {"defaults", 300, 15, 15},
    {"closes_on_its_tick", 5, 2, 2},
    {"closes_on_the_first_tick", 5, 1, 1},
    {"closes_on_the_last_tick_before_the_check", 5, 5, 5},
    {"zero_never_closes", 5, 0, 0},
    {"negative_never_closes", 5, -3, 0},
    {"two_past_the_interval_never_closes", 5, 7, 0},
};

TEST_F(Notifier, MinimizesOnItsTickAndChecksOnTheTickAfterTheInterval) {
  open();
  for (const TimingCase& c : timing_cases) {
    SCOPED_TRACE(c.name);
    settings(c.checktime, c.closetime);
    on_window([&] { window->Minimize(false); });
    set_count(0);
    const int before = checks();
    for (int t = 1; t <= c.checktime; ++t) {
      tick();
      ASSERT_EQ(count(), t);
      ASSERT_EQ(checks(), before) << "tick " << t;
      ASSERT_EQ(minimized(), c.minimized_from != 0 && t >= c.minimized_from) << "tick " << t;
    }
    tick();
    EXPECT_EQ(checks(), before + 1) << "tick " << c.checktime + 1;
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(minimized()) << "every check restores the window";
  }
}

// An interval of 0 or below waits the default, as if the file had not given
// it: polling every second gets accounts locked. The setting keeps what the
// user typed.
TEST_F(Notifier, IntervalOfZeroOrBelowWaitsTheDefault) {
  open();
  for (const int checktime : {0, -1, -300, INT_MIN}) {
    SCOPED_TRACE(checktime);
    settings(checktime, 0);
    set_count(0);
    const int before = checks();
    tick();
    EXPECT_EQ(checks(), before) << "the tick after a check";
    set_count(default_checktime - 1);
    tick();
    EXPECT_EQ(checks(), before) << "tick " << default_checktime;
    tick();
    EXPECT_EQ(checks(), before + 1) << "tick " << default_checktime + 1;
    EXPECT_EQ(snapshot_settings().checkmail_timer, checktime);
  }
}


TEST_F(Notifier, CloseTimeOnePastTheIntervalMinimizesOnTheCheckTickAndTheCheckRestores) {
  settings(3, 4);
  pop3_receive_timeout_ms = 400;
  server.go_silent_at(0);  // the check lasts one receive time-out
  open();
  set_count(3);
  ASSERT_TRUE(gui_detail::post_call(*window, [&] { view->Pulse(); }));
  // The window's thread is in the session: look at the widget from here.
  EXPECT_TRUE(pump_until([&] { return window->IsMinimized(); }));
  EXPECT_TRUE(pump_until([&] { return !window->IsMinimized() && server.sessions_ended() == 1; }));
  EXPECT_EQ(text(), "Error");
  EXPECT_FALSE(minimized());
}

TEST_F(Notifier, TheLargestIntervalStillChecksWhenAsked) {
  settings(INT_MAX, 15);
  open();
  set_count(INT_MAX);
  tick();
  EXPECT_EQ(checks(), 1);
  EXPECT_EQ(count(), 0);
}

TEST_F(Notifier, TicksStopDuringTheCheckAndTheRateComesBack) {
  settings(2, 0);
  pop3_receive_timeout_ms = 300;
  server.go_silent_at(0);  // each check lasts one receive time-out
  open();
  window->SetPulseRate(20000);
  EXPECT_TRUE(pump_until([&] { return window->PulseRate() == 0; })) << "stopped while the session runs";
  EXPECT_TRUE(pump_until([&] { return window->PulseRate() == 20000 && server.sessions_ended() >= 1; }))
      << "restored afterwards";
}

// --- The settings window ---------------------------------------------------------------

struct ReturnCase {
  const char* name;
  int new_checktime;
  int ticks_to_check;  // after the settings window closed
};

const std::vector<ReturnCase> return_cases = {
    {"same_interval_checks_at_once", 5, 1},
    {"smaller_interval_checks_at_once", 2, 1},
    {"larger_interval_waits_the_difference", 8, 4},
};

TEST_F(Notifier, SecondaryClickPausesTheCycleUntilTheSettingsWindowCloses) {
  open();
  for (const ReturnCase& c : return_cases) {
    SCOPED_TRACE(c.name);
    settings(5, 0);
    set_count(2);
    gui_synthetic::click(*contents, BPoint(2, 2), B_SECONDARY_MOUSE_BUTTON);
    ASSERT_TRUE(pump_until([&] { return settings_window() != nullptr; }));
    EXPECT_FALSE(f_config);
    EXPECT_EQ(count(), 5);
    const int before = checks();
    for (int t = 0; t < 3; ++t) tick();
    EXPECT_EQ(count(), 5) << "paused ticks do not count";
    EXPECT_EQ(checks(), before);

    settings(c.new_checktime, 0);
    BWindow* form = settings_window();
    BView* cancel = nullptr;
    ASSERT_TRUE(on_window_thread(*form, [&] { cancel = form->FindView("Cancel button"); }));
    gui_synthetic::click(*cancel, BPoint(10, 8), B_PRIMARY_MOUSE_BUTTON);
    ASSERT_TRUE(pump_until([&] { return be_app->CountWindows() == 1 && f_config; }));
    int ticks = 0;
    while (checks() == before && ticks < 20) {
      tick();
      ++ticks;
    }
    EXPECT_EQ(ticks, c.ticks_to_check);
  }
}

TEST_F(Notifier, ASecondSecondaryClickOpensAnotherSettingsWindow) {
  settings(7, 0);
  open();
  for (int open_windows = 2; open_windows <= 3; ++open_windows) {
    f_config = true;
    set_count(1);
    gui_synthetic::click(*contents, BPoint(2, 2), B_SECONDARY_MOUSE_BUTTON);
    ASSERT_TRUE(pump_until([&] { return be_app->CountWindows() == open_windows; }));
    EXPECT_FALSE(f_config);
    EXPECT_EQ(count(), 7);
  }
}

TEST_F(Notifier, OtherPressesDoNothing) {
  settings(9, 0);
  open();
  set_count(3);
  for (int32 buttons : {B_PRIMARY_MOUSE_BUTTON, B_TERTIARY_MOUSE_BUTTON,
                        B_PRIMARY_MOUSE_BUTTON | B_SECONDARY_MOUSE_BUTTON,
                        B_SECONDARY_MOUSE_BUTTON | B_TERTIARY_MOUSE_BUTTON}) {
    gui_synthetic::click(*contents, BPoint(2, 2), buttons);
  }
  BMessage no_buttons(B_MOUSE_DOWN);
  window->PostMessage(&no_buttons, contents);
  on_window([] {});  // after every press above
  EXPECT_EQ(be_app->CountWindows(), 1);
  EXPECT_TRUE(f_config);
  EXPECT_EQ(count(), 3);
  EXPECT_EQ(checks(), 0);
  EXPECT_FALSE(minimized());
}

// --- The window sized to its text, within the screen ------------------------------------

struct SizeCase {
  const char* name;
  Lines maildrop;
  int fontsize;
  std::string text;
  int lines;          // measured for the window; 0: a square one line high
  float shown_size;   // of the font
  bool past_screen;   // the text is larger than the screen leaves room for
};

const std::string long_subject = "Subject: " + repeat("long ", 600) + "end";
const std::string subject_600 = "Subject: " + repeat("Quarterly ", 59) + "end";
const std::string two_lines = "From: Ann <ann@example.org>\nSubject: Lunch";

// `count` messages, each with one From line; and the text they show.
std::pair<Lines, std::string> senders(int count) {
  Lines maildrop;
  std::string text;
  for (int i = 0; i < count; ++i) {
    maildrop.push_back("From: sender" + std::to_string(i) + "\r\n");
    text += (i ? "\nFrom: sender" : "From: sender") + std::to_string(i);
  }
  return {maildrop, text};
}

std::vector<SizeCase> size_cases() {
  const auto [many, many_text] = senders(40);
  const auto [list, list_text] = senders(2000);
  return {
      {"two_lines", one_message, 12, two_lines, 2, 12, false},
      {"large_font", one_message, 30, two_lines, 2, 30, false},
      {"font_size_zero_shows_at_the_default", one_message, 0, two_lines, 2, 12, false},
      {"negative_font_size_too", one_message, -4, two_lines, 2, 12, false},
      {"a_huge_font_size_shows_at_the_bound", one_message, 100000, two_lines, 2, max_shown_fontsize, true},
      {"a_tiny_font_keeps_a_line_of_the_default_font", one_message, 2, two_lines, 2, 2, false},
      {"many_messages_make_it_tall", many, 12, many_text, 40, 12, false},
      {"a_long_line_is_cut_at_the_screen", {long_subject + "\r\n"}, 12, long_subject, 1, 12, true},
      {"a_600_byte_subject_too", {subject_600 + "\r\n"}, 12, subject_600, 1, 12, true},
      {"two_thousand_messages_open_at_the_end", list, 12, list_text, 2000, 12, true},
      {"no_mail", {}, 12, "You have no mail in your maildrop.", 1, 12, false},
      {"no_kept_line", {"Date: today\r\n"}, 12, "", 0, 12, false},
  };
}

TEST_F(Notifier, WindowIsAsLargeAsItsTextWithinTheScreenAndNeverTooSmallToHandle) {
  open();
  server.stop();
  font_height default_line;
  BFont().GetHeight(&default_line);
  const float least_height = default_line.ascent + default_line.descent + default_line.leading;
  const BRect room = gui_synthetic::available_screen_area(*window);
  for (const SizeCase& c : size_cases()) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server one{c.maildrop};
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    settings(1, 0, c.fontsize);
    set_count(1);
    tick();
    BFont font;
    BRect text_rect, shown;
    on_window([&] {
      contents->GetFontAndColor(0, &font);
      text_rect = contents->TextRect();
      shown = contents->Bounds();
    });
    EXPECT_EQ(text(), c.text);
    EXPECT_EQ(font.Size(), c.shown_size);
    EXPECT_EQ(snapshot_settings().fontsize, c.fontsize) << "the setting stays as it was";
    const BRect want = c.lines > 0 ? text_size(c.lines) : square_line();
    EXPECT_EQ(text_rect, want);
    EXPECT_GT(want.Height(), c.lines * c.shown_size);
    EXPECT_GT(want.Width(), c.past_screen && c.lines == 1 ? 2000 : 0);
    const BRect size = window_size();
    EXPECT_LT(size.Width(), room.Width()) << "the frame needs room too";
    EXPECT_LT(size.Height(), room.Height());
    EXPECT_GE(size.Width() + 1, 160) << "wide enough for the title bar";
    EXPECT_GE(size.Height(), least_height) << "a line of the default font";
    if (!c.past_screen) {
      EXPECT_EQ(size, BRect(0, 0, std::max(want.Width(), 159.0f), std::max(want.Height(), least_height)));
    }
    EXPECT_GE(shown.bottom + 1, want.Height()) << "the last line shows";
  }
}

TEST_F(Notifier, AFailedCheckTellsWhyInTheTooltipUntilACheckGoesWell) {
  settings(1, 0);
  open();
  struct Step {
    const char* name;
    bool accounts_file;
    std::string text;
    bool reason;
  };
  const Step steps[] = {
      {"no_accounts_file", false, "Error", true},
      {"the_account_back", true, two_lines, false},
      {"gone_again", false, "Error", true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    if (s.accounts_file)
      write_account(home, "127.0.0.1");
    else
      std::filesystem::remove(home.path("Mail/accounts"));
    set_count(1);
    tick();
    std::string tip;
    on_window([&] { tip = contents->ToolTip(); });
    EXPECT_EQ(text(), s.text);
    EXPECT_EQ(tip, report_reason());
    EXPECT_EQ(tip.empty(), !s.reason) << tip;
    EXPECT_EQ(gui_synthetic::rest_pointer(*contents, BPoint(5, 5)), tip) << "shown where the pointer rests";
  }
}

// --- About and closing -------------------------------------------------------------------------

TEST_F(Notifier, HelpKeyOpensAOneLineAboutBoxEvenDuringACheck) {
  settings(1, 0);  // a check on every second tick
  pop3_receive_timeout_ms = 1500;
  server.go_silent_at(0);  // the check holds the window's thread until the time-out
  open();
  window->SetPulseRate(1000);
  ASSERT_TRUE(pump_until([&] { return window->PulseRate() == 0; })) << "a check has begun";
  gui_synthetic::press_help_key(*window);
  ASSERT_TRUE(pump_until([] { return !gui_synthetic::open_alerts().empty(); }));
  EXPECT_EQ(server.sessions_ended(), 0) << "the About box did not wait for the check";
  const std::string about = gui_synthetic::open_alerts().front();
  EXPECT_EQ(about.rfind("About: Wyke " WYKE_VERSION, 0), 0u) << about;
  EXPECT_EQ(about.find('\n'), std::string::npos) << about;
}

TEST_F(Notifier, ClosingTheNotifierQuitsTheApplicationAndEmptiesTheText) {
  settings(1, 0);
  open();
  set_count(1);
  tick();
  ASSERT_EQ(text(), "From: Ann <ann@example.org>\nSubject: Lunch");
  config();  // a settings window goes too
  ASSERT_EQ(be_app->CountWindows(), 2);
  gui_synthetic::close_box(*window);
  EXPECT_TRUE(pump_until([] { return be_app->CountWindows() == 0; }));
  EXPECT_EQ(wyke_header, "");
}

// The close box must not sit out a hanging server's time-out (here 30 s):
// it cancels the check's wait, and the notifier goes at once.
TEST_F(Notifier, ClosingDuringAHangingCheckEndsItAtOnce) {
  settings(0, 0);
  pop3_receive_timeout_ms = 30 * 1000;
  server.go_silent_at(0);
  open();
  window->SetPulseRate(1000);
  ASSERT_TRUE(pump_until([&] { return window->PulseRate() == 0; })) << "a check has begun";
  gui_synthetic::close_box(*window);
  EXPECT_TRUE(pump_until([] { return be_app->CountWindows() == 0; }, std::chrono::seconds(3)));
}

// Nor a password command that hangs, far inside its own 10 s bound.
TEST_F(Notifier, ClosingWhileThePasswordCommandHangsEndsItAtOnce) {
  settings(0, 0);
  home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = alice\npassword_command = sleep 30\n", 0600);
  open();
  window->SetPulseRate(1000);
  ASSERT_TRUE(pump_until([&] { return window->PulseRate() == 0; })) << "a check has begun";
  gui_synthetic::close_box(*window);
  EXPECT_TRUE(pump_until([] { return be_app->CountWindows() == 0; }, std::chrono::seconds(3)));
}

}  // namespace
