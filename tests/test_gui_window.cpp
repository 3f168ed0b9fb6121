// Windows: pulses on the window's thread (also while minimized, stopped at
// rate 0), minimize and restore (a size given meanwhile kept for the
// restore), inclusive geometry, views that follow, and finding views by name.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "synthetic.h"
#include "gui_app.h"
#include "gui_probe.h"

namespace {

using namespace wyke_test;

class Window : public GuiTest {
 protected:
  BWindow* make(BRect frame = BRect(30, 30, 129, 79), uint32 flags = 0) {
    return new BWindow(frame, "test window", B_TITLED_WINDOW, flags);
  }
  std::thread::id thread_of(BWindow& window) {
    std::thread::id id;
    EXPECT_TRUE(on_window_thread(window, [&] { id = std::this_thread::get_id(); }));
    return id;
  }
  // A pulse view in the window, which is shown pulsing every 10 ms.
  ProbeView* pulsing(BWindow& window) {
    auto* probe = new ProbeView(BRect(0, 0, 49, 49), "probe");
    window.AddChild(probe);
    window.SetPulseRate(10000);
    window.Show();
    return probe;
  }
  // Pulses that arrive within `wait` from now.
  int pulses_within(const ProbeView& probe, std::chrono::milliseconds wait) {
    const int before = probe.pulses;
    pump_until([] { return false; }, wait);
    return probe.pulses - before;
  }
};

TEST_F(Window, PulsesReachOnlyPulseViewsOnTheWindowsThread) {
  BWindow* window = make();
  auto* ticking = new ProbeView(BRect(0, 0, 49, 49), "ticking");
  auto* quiet = new ProbeView(BRect(50, 0, 99, 49), "quiet", B_WILL_DRAW);
  auto* nested = new ProbeView(BRect(0, 0, 9, 9), "nested");
  window->AddChild(ticking);
  window->AddChild(quiet);
  quiet->AddChild(nested);
  window->SetPulseRate(10000);
  window->Show();
  ASSERT_TRUE(pump_until([&] { return ticking->pulses >= 5 && nested->pulses >= 5; }));
  EXPECT_EQ(quiet->pulses, 0);
  const std::thread::id window_thread = thread_of(*window);
  EXPECT_NE(window_thread, std::this_thread::get_id());
  EXPECT_EQ(ticking->pulse_thread.load(), window_thread);
}

TEST_F(Window, RateZeroStopsThePulseAndARateRestartsIt) {
  BWindow* window = make();
  ProbeView* probe = pulsing(*window);
  ASSERT_TRUE(pump_until([&] { return probe->pulses >= 2; }));
  bigtime_t rate_seen = -1;
  ASSERT_TRUE(on_window_thread(*window, [&] {
    window->SetPulseRate(0);
    rate_seen = window->PulseRate();
  }));
  EXPECT_EQ(rate_seen, 0);
  EXPECT_EQ(pulses_within(*probe, 150ms), 0);
  window->SetPulseRate(10000);
  EXPECT_TRUE(pump_until([&] { return probe->pulses >= 5; }));
}

// A size given while minimized waits for the restore, and is not lost.
TEST_F(Window, MinimizeAndRestoreKeepThePulseComingAndASizeGivenMeanwhile) {
  BWindow* window = make();
  ProbeView* probe = pulsing(*window);
  struct Step {
    bool minimize;
    bool minimized, hidden;
    BRect bounds;
  };
  const BRect made(0, 0, 99, 49), given(0, 0, 149, 19);
  for (const Step& step : {Step{true, true, false, made}, Step{false, false, false, given},
                           Step{true, true, false, given}}) {
    bool minimized = !step.minimized, hidden = !step.hidden;
    BRect bounds;
    ASSERT_TRUE(on_window_thread(*window, [&] {
      window->Minimize(step.minimize);
      if (step.minimize) window->ResizeTo(given.Width(), given.Height());
      minimized = window->IsMinimized();
      hidden = window->IsHidden();
      bounds = window->Bounds();
    }));
    EXPECT_EQ(minimized, step.minimized) << "Minimize(" << step.minimize << ")";
    EXPECT_EQ(hidden, step.hidden) << "Minimize(" << step.minimize << ")";
    EXPECT_EQ(bounds, step.bounds) << "Minimize(" << step.minimize << ")";
    const int before = probe->pulses;
    EXPECT_TRUE(pump_until([&] { return probe->pulses >= before + 3; })) << "pulses while minimized: " << minimized;
  }
}

TEST_F(Window, RestoringAWindowNotShownYetLeavesItHidden) {
  BWindow* window = make();
  window->Minimize(false);
  EXPECT_TRUE(window->IsHidden());
  window->Minimize(true);
  EXPECT_TRUE(window->IsHidden());
  window->Show();
  bool minimized = false;
  ASSERT_TRUE(on_window_thread(*window, [&] { minimized = window->IsMinimized(); }));
  EXPECT_TRUE(minimized) << "a window minimized before it is shown shows minimized";
}

TEST_F(Window, RectanglesAreInclusive) {
  struct Case {
    BRect frame;
    float width, height;  // given to ResizeTo
    uint32 flags;
  };
  const Case cases[] = {
      {BRect(0, 0, 99, 49), 99, 49, 0},
      {BRect(50, 50, 100, 100), 10, 20, B_NOT_RESIZABLE},
      {BRect(10, 20, 10, 20), 0, 0, B_NOT_RESIZABLE},  // one pixel
      {BRect(5, 5, 104, 54), 250, 7, 0},
  };
  for (const Case& c : cases) {
    BWindow* window = make(c.frame, c.flags);
    EXPECT_EQ(window->Bounds(), BRect(0, 0, c.frame.Width(), c.frame.Height()));
    EXPECT_EQ(window->Frame(), c.frame);
    window->ResizeTo(c.width, c.height);
    EXPECT_EQ(window->Bounds(), BRect(0, 0, c.width, c.height));
    EXPECT_EQ(window->Frame(), BRect(c.frame.left, c.frame.top, c.frame.left + c.width, c.frame.top + c.height));
    window->Quit();
  }
}

TEST_F(Window, NeverReachesPastTheAvailableAreaOfItsScreen) {
  struct Case {
    const char* name;
    BRect frame;
    float width_in_rooms, height_in_rooms;  // given to ResizeTo, in widths and heights of the room
    bool wider, taller;                     // than the room
    bool stays;                             // where the frame put it
  };
  const Case cases[] = {
      {"fits", BRect(50, 50, 100, 100), 0.25f, 0.25f, false, false, true},
      {"too_tall", BRect(50, 50, 100, 100), 0.25f, 40, false, true, false},
      {"too_wide", BRect(50, 50, 100, 100), 5, 0.25f, true, false, false},
      {"both", BRect(50, 50, 100, 100), 5, 40, true, true, false},
      {"moved_in_from_the_bottom_right", BRect(600, 500, 700, 600), 0.5f, 0.75f, false, false, false},
  };
  // The frame the window manager draws around the content takes some room.
  constexpr float decoration = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BWindow* window = make(c.frame, B_NOT_RESIZABLE);
    const BRect room = gui_synthetic::available_screen_area(*window);
    const float width = std::floor(room.Width() * c.width_in_rooms);
    const float height = std::floor(room.Height() * c.height_in_rooms);
    window->ResizeTo(width, height);
    const BRect bounds = window->Bounds();
    const BRect frame = window->Frame();
    EXPECT_TRUE(room.Contains(frame)) << frame.left << "," << frame.top << " " << frame.right << "," << frame.bottom;
    if (c.taller) {
      EXPECT_GT(bounds.Height(), room.Height() - decoration);
    } else {
      EXPECT_EQ(bounds.Height(), height);
    }
    if (c.wider) {
      EXPECT_GT(bounds.Width(), room.Width() - decoration);
    } else if (c.taller) {
      EXPECT_GT(bounds.Width(), width) << "room for a scroll bar";
      EXPECT_LE(bounds.Width(), width + 40);
    } else {
      EXPECT_EQ(bounds.Width(), width);
    }
    if (c.stays) {
      EXPECT_EQ(frame.LeftTop(), c.frame.LeftTop());
    }
    window->Quit();
  }
}

TEST_F(Window, ViewsFollowTheWindowByTheirResizingMode) {
  struct Case {
    const char* name;
    uint32 mode;
    BRect after;  // of BRect(10, 10, 29, 19) when the window grows by 40 x 20
  };
  const Case cases[] = {
      {"all sides", B_FOLLOW_ALL, BRect(10, 10, 69, 39)},
      {"left top", B_FOLLOW_LEFT | B_FOLLOW_TOP, BRect(10, 10, 29, 19)},
      {"none", B_FOLLOW_NONE, BRect(10, 10, 29, 19)},
      {"right bottom", B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM, BRect(50, 30, 69, 39)},
      {"left right, top", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, BRect(10, 10, 69, 19)},
      {"top bottom, right", B_FOLLOW_RIGHT | B_FOLLOW_TOP_BOTTOM, BRect(50, 10, 69, 39)},
      {"centred", B_FOLLOW_H_CENTER | B_FOLLOW_V_CENTER, BRect(30, 20, 49, 29)},
  };
  BWindow* window = make(BRect(0, 0, 99, 49));
  for (const Case& c : cases) window->AddChild(new ProbeView(BRect(10, 10, 29, 19), c.name, B_WILL_DRAW, c.mode));
  window->ResizeTo(139, 69);
  for (const Case& c : cases) EXPECT_EQ(window->FindView(c.name)->Frame(), c.after) << c.name;
  window->ResizeTo(99, 49);
  for (const Case& c : cases) EXPECT_EQ(window->FindView(c.name)->Frame(), BRect(10, 10, 29, 19)) << c.name << " back";
}

TEST_F(Window, ChildrenFollowTheirParentInTurn) {
  BWindow* window = make(BRect(0, 0, 50, 50));
  auto* content = new ProbeView(BRect(0, 0, 50, 50), "content");
  auto* contents = new ProbeView(BRect(0, 0, 100, 100), "contents");
  content->AddChild(contents);
  window->AddChild(content);
  window->ResizeTo(200, 30);
  EXPECT_EQ(content->Frame(), BRect(0, 0, 200, 30)) << "covers the window exactly";
  EXPECT_EQ(contents->Frame(), BRect(0, 0, 250, 80)) << "keeps its overhang of 50";
}

TEST_F(Window, FindViewSearchesTheWholeTree) {
  BWindow* window = make();
  auto* a = new ProbeView(BRect(0, 0, 9, 9), "a");
  auto* b = new ProbeView(BRect(0, 0, 9, 9), "b");
  auto* c = new ProbeView(BRect(0, 0, 9, 9), "c");
  auto* d = new ProbeView(BRect(0, 0, 9, 9), "d");
  auto* first = new ProbeView(BRect(0, 0, 9, 9), "first");
  b->AddChild(c);
  a->AddChild(b);
  window->AddChild(a);
  window->AddChild(d);
  window->AddChild(first, a);  // in front of a
  EXPECT_EQ(window->FindView("c"), c);
  EXPECT_EQ(window->FindView("d"), d);
  EXPECT_EQ(window->FindView("nothing"), nullptr);
  EXPECT_EQ(window->FindView(nullptr), nullptr);
  EXPECT_EQ(window->ChildAt(0), first);
  EXPECT_EQ(window->ChildAt(1), a);
  EXPECT_EQ(window->ChildAt(2), d);
  EXPECT_EQ(window->ChildAt(3), nullptr);
  EXPECT_EQ(a->ChildAt(0), b);
  EXPECT_EQ(c->Parent(), b);
  EXPECT_EQ(c->Window(), window);
  EXPECT_EQ(window->CountChildren(), 3);
}

}  // namespace
