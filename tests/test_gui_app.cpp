// The application: Run and ReadyToRun on the Qt thread, the window list, F1,
// calls made on the Qt thread before a window runs, and quitting that never
// hangs whatever the window threads are doing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "gui/alert.h"
#include "synthetic.h"
#include "gui/text_view.h"
#include "gui_app.h"
#include "gui_probe.h"

namespace {

using namespace wyke_test;
using Clock = std::chrono::steady_clock;

class Application : public GuiTest {
 protected:
  // Runs the loop with `ready` as ReadyToRun. A watchdog asks for the quit
  // after `limit`, so a test that fails cannot hang; true when Run ended
  // without it.
  bool run(std::function<void()> ready, std::chrono::milliseconds limit = 10s) {
    hook_app().on_ready = std::move(ready);
    std::atomic<bool> ended{false};
    std::atomic<bool> fired{false};
    std::thread watchdog([&] {
      const auto deadline = Clock::now() + limit;
      while (!ended && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
      if (ended) return;
      fired = true;
      be_app->PostMessage(B_QUIT_REQUESTED);
    });
    be_app->Run();
    ended = true;
    watchdog.join();
    return !fired;
  }
};

TEST_F(Application, ReadyToRunOnceOnTheQtThreadAndQuitEndsRun) {
  for (int round = 0; round < 2; ++round) {
    int ready_calls = 0;
    std::thread::id ready_thread;
    ASSERT_TRUE(run([&] {
      ++ready_calls;
      ready_thread = std::this_thread::get_id();
      be_app->PostMessage(B_QUIT_REQUESTED);
    })) << "round " << round;
    EXPECT_EQ(ready_calls, 1);
    EXPECT_EQ(ready_thread, std::this_thread::get_id());
  }
}

TEST_F(Application, RunEndsWithEveryWindowGone) {
  ASSERT_TRUE(run([] {
    (new BWindow(BRect(10, 10, 59, 59), "shown", B_TITLED_WINDOW, 0))->Show();
    new BWindow(BRect(10, 10, 59, 59), "never shown", B_TITLED_WINDOW, 0);
    be_app->PostMessage(B_QUIT_REQUESTED);
  }));
  EXPECT_EQ(be_app->CountWindows(), 0);
  EXPECT_TRUE(gui_synthetic::open_alerts().empty());
}

TEST_F(Application, WindowAtWalksTheWindowsInOrder) {
  BWindow* made[3];
  for (BWindow*& w : made) w = new BWindow(BRect(0, 0, 9, 9), "w", B_TITLED_WINDOW, 0);
  ASSERT_EQ(be_app->CountWindows(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(be_app->WindowAt(i), made[i]);
  EXPECT_EQ(be_app->WindowAt(3), nullptr);
  EXPECT_EQ(be_app->WindowAt(-1), nullptr);
  made[0]->Quit();
  EXPECT_EQ(be_app->WindowAt(0), made[1]);
}

TEST_F(Application, F1InAnyWindowAsksForTheAboutBox) {
  auto* window = new BWindow(BRect(10, 10, 109, 59), "about", B_FLOATING_WINDOW, 0);
  window->AddChild(new BTextView(BRect(0, 0, 99, 49), "text", BRect(0, 0, 99, 49), B_FOLLOW_ALL, B_WILL_DRAW));
  window->Show();
  const int before = hook_app().about_requests;
  gui_synthetic::press_help_key(*window);
  EXPECT_TRUE(pump_until([&] { return hook_app().about_requests == before + 1; }));
}

TEST_F(Application, AlertGoReturnsAtOnceAndShowsTheAlert) {
  (new BAlert("About", "Wyke, a new-mail notifier.", "OK", nullptr, nullptr, B_WIDTH_AS_USUAL, B_INFO_ALERT))->Go();
  EXPECT_TRUE(pump_until([] { return gui_synthetic::open_alerts().size() == 1; }));
  EXPECT_EQ(gui_synthetic::open_alerts().front(), "About: Wyke, a new-mail notifier.");
}

// What the notifier's first check does: a view's Pulse, called directly on
// the Qt thread before its window has a thread, uses the window and a text
// view; every call that waits for Qt must run at once here.
class FirstCheckView : public BView {
 public:
  FirstCheckView() : BView(BRect(0, 0, 50, 50), "content", B_FOLLOW_ALL, B_WILL_DRAW | B_PULSE_NEEDED) {
    text = new BTextView(BRect(0, 0, 100, 100), "contents", BRect(0, 0, 100, 100), B_FOLLOW_ALL, B_WILL_DRAW);
    AddChild(text);
  }
  void Pulse() override {
    const bigtime_t rate = Window()->PulseRate();
    Window()->SetPulseRate(0);
    text->SetText("From: alice\nSubject: hello", 26);
    BFont font;
    text->GetFontAndColor(0, &font);
    font.SetSize(12);
    text->SetFontAndColor(&font, B_FONT_ALL);
    width = std::max(text->LineWidth(0), text->LineWidth(1));
    height = text->TextHeight(0, 1);
    text->SetTextRect(BRect(0, 0, width, height));
    const bool active = Window()->IsActive();
    Window()->ResizeTo(width, height);
    Window()->Minimize(false);
    Window()->Activate(active);
    bounds = Window()->Bounds();
    hidden = Window()->IsHidden();
    Window()->SetPulseRate(rate);
  }
  BTextView* text;
  float width = 0;
  float height = 0;
  BRect bounds;
  bool hidden = false;
};

TEST_F(Application, DirectPulseFromReadyToRunRunsEveryCallAtOnce) {
  float width = 0, height = 0;
  BRect bounds;
  bool hidden_after_pulse = false, shown_after = false;
  ASSERT_TRUE(run([&] {
    auto* window = new BWindow(BRect(50, 50, 100, 100), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
    window->SetPulseRate(1000000);
    auto* view = new FirstCheckView;
    window->AddChild(view);
    be_app->WindowAt(0)->ChildAt(0)->Pulse();
    width = view->width;
    height = view->height;
    bounds = view->bounds;
    hidden_after_pulse = view->hidden;
    window->Show();
    shown_after = !window->IsHidden();
    be_app->PostMessage(B_QUIT_REQUESTED);
  }));
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
  EXPECT_EQ(bounds, BRect(0, 0, width, height)) << "the resize took effect before the answer";
  EXPECT_TRUE(hidden_after_pulse) << "restoring a window not shown yet does not show it";
  EXPECT_TRUE(shown_after);
}

// Like the notifier's window: closing it ends the program. Its destructor
// asks for the quit once more, as late as it can, while Run is closing.
class MainWindow : public BWindow {
 public:
  MainWindow() : BWindow(BRect(10, 10, 59, 59), "main", B_TITLED_WINDOW, B_NOT_RESIZABLE) {}
  ~MainWindow() override { be_app->PostMessage(B_QUIT_REQUESTED); }
  void Quit() override {
    be_app->PostMessage(B_QUIT_REQUESTED, be_app);
    BWindow::Quit();
  }
};

TEST_F(Application, ClosingTheMainWindowEndsRunAndLeavesNothingForTheNextRun) {
  ASSERT_TRUE(run([] {
    auto* window = new MainWindow;
    window->Show();
    gui_synthetic::close_box(*window);
  }));
  EXPECT_EQ(be_app->CountWindows(), 0);
  // The quit requests of the first run are void now: this one runs until its
  // window has pulsed three times.
  auto pulses = std::make_shared<std::atomic<int>>(0);
  ASSERT_TRUE(run([pulses] {
    struct Counting : BView {
      explicit Counting(std::shared_ptr<std::atomic<int>> p)
          : BView(BRect(0, 0, 9, 9), "counting", B_FOLLOW_ALL, B_PULSE_NEEDED), pulses(p) {}
      void Pulse() override {
        if (++*pulses == 3) be_app->PostMessage(B_QUIT_REQUESTED);
      }
      std::shared_ptr<std::atomic<int>> pulses;
    };
    auto* window = new BWindow(BRect(10, 10, 59, 59), "second run", B_TITLED_WINDOW, 0);
    window->AddChild(new Counting(pulses));
    window->SetPulseRate(10000);
    window->Show();
  }));
  EXPECT_GE(*pulses, 3);
}

// Quitting while a window thread is busy: in a long call, or calling into Qt
// again and again. Run must end, and the window must be gone.
TEST_F(Application, QuitNeverWaitsForeverOnABusyWindow) {
  struct Case {
    const char* name;
    bool calls_qt;
  };
  for (const Case& c : {Case{"blocked in a long call", false}, Case{"waiting on the Qt thread", true}}) {
    auto gone = std::make_shared<std::atomic<bool>>(false);
    auto queries = std::make_shared<std::atomic<int>>(0);
    struct BusyWindow : BWindow {
      BusyWindow(std::shared_ptr<std::atomic<bool>> g, std::shared_ptr<std::atomic<int>> q, bool calls)
          : BWindow(BRect(10, 10, 59, 59), "busy", B_TITLED_WINDOW, 0), gone(g), queries(q), calls_qt(calls) {}
      ~BusyWindow() override { *gone = true; }
      void MessageReceived(BMessage*) override {
        be_app->PostMessage(B_QUIT_REQUESTED);
        if (!calls_qt) {
          std::this_thread::sleep_for(300ms);  // a POP3 session, say
          Bounds();                            // and then the display
          return;
        }
        for (int i = 0; i < 1000000; ++i) {
          Bounds();
          ++*queries;
        }
      }
      std::shared_ptr<std::atomic<bool>> gone;
      std::shared_ptr<std::atomic<int>> queries;
      bool calls_qt;
    };
    const auto started = Clock::now();
    ASSERT_TRUE(run([&] {
      auto* window = new BusyWindow(gone, queries, c.calls_qt);
      window->Show();
      window->PostMessage(message_code("busy"));
    })) << c.name;
    EXPECT_TRUE(*gone) << c.name;
    EXPECT_LT(Clock::now() - started, 8s) << c.name;
  }
}

}  // namespace
