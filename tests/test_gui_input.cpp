// Mouse presses reach the window's thread as B_MOUSE_DOWN with "buttons",
// for the view under the pointer; a derived MouseDown replaces the text
// view's own handling of the click.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "synthetic.h"
#include "gui/text_view.h"
#include "gui_app.h"
#include "gui_probe.h"

namespace {

using namespace wyke_test;

class Input : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    window = new BWindow(BRect(40, 40, 239, 139), "input", B_TITLED_WINDOW, B_NOT_RESIZABLE);
    left = new ProbeView(BRect(0, 0, 99, 99), "left", B_WILL_DRAW, B_FOLLOW_NONE);
    right = new ProbeView(BRect(100, 0, 199, 99), "right", B_WILL_DRAW, B_FOLLOW_NONE);
    inner = new ProbeView(BRect(10, 10, 29, 29), "inner", B_WILL_DRAW, B_FOLLOW_NONE);
    right->AddChild(inner);
    window->AddChild(left);
    window->AddChild(right);
    window->Show();
  }
  BWindow* window = nullptr;
  ProbeView* left = nullptr;
  ProbeView* right = nullptr;
  ProbeView* inner = nullptr;
};

TEST_F(Input, ButtonsOfThePressReachTheViewUnderThePointer) {
  struct Case {
    const char* name;
    int32 buttons;
  };
  const Case cases[] = {
      {"primary", B_PRIMARY_MOUSE_BUTTON},
      {"secondary", B_SECONDARY_MOUSE_BUTTON},
      {"tertiary", B_TERTIARY_MOUSE_BUTTON},
      {"primary and secondary", B_PRIMARY_MOUSE_BUTTON | B_SECONDARY_MOUSE_BUTTON},
      {"secondary and tertiary", B_SECONDARY_MOUSE_BUTTON | B_TERTIARY_MOUSE_BUTTON},
      {"all three", 7},
  };
  int presses = 0;
  for (const Case& c : cases) {
    gui_synthetic::click(*right, BPoint(60, 40), c.buttons);
    ++presses;
    ASSERT_TRUE(pump_until([&] { return right->mouse_downs == presses; })) << c.name;
    EXPECT_EQ(right->last_buttons.load(), c.buttons) << c.name;
    EXPECT_EQ(right->last_where(), BPoint(60, 40)) << c.name;
  }
  EXPECT_EQ(left->mouse_downs, 0);
  EXPECT_EQ(inner->mouse_downs, 0);
  std::thread::id window_thread;
  ASSERT_TRUE(on_window_thread(*window, [&] { window_thread = std::this_thread::get_id(); }));
  EXPECT_EQ(right->mouse_thread.load(), window_thread) << "MouseDown runs on the window's thread";
}

TEST_F(Input, TheInnermostViewTakesThePress) {
  gui_synthetic::click(*right, BPoint(15, 15), B_SECONDARY_MOUSE_BUTTON);  // over `inner`
  ASSERT_TRUE(pump_until([&] { return inner->mouse_downs == 1; }));
  EXPECT_EQ(inner->last_where(), BPoint(5, 5)) << "in the inner view's own coordinates";
  EXPECT_EQ(right->mouse_downs, 0);
}

// A text view whose MouseDown is its own, as the notifier's is.
class OwnClickTextView : public BTextView {
 public:
  OwnClickTextView()
      : BTextView(BRect(0, 0, 99, 99), "own", BRect(0, 0, 99, 99), B_FOLLOW_NONE, B_WILL_DRAW) {}
  void MouseDown(BPoint) override {
    int32 buttons = -1;
    Window()->CurrentMessage()->FindInt32("buttons", &buttons);
    seen_buttons = buttons;
  }
  std::atomic<int32> seen_buttons{-1};
};

TEST_F(Input, ADerivedMouseDownReplacesTheTextViewsOwnHandling) {
  auto* own = new OwnClickTextView;
  auto* plain = new BTextView(BRect(0, 50, 99, 99), "plain", BRect(0, 0, 99, 49), B_FOLLOW_NONE, B_WILL_DRAW);
  int32 own_caret = -1, plain_caret = -1;
  ASSERT_TRUE(on_window_thread(*window, [&] {
    left->AddChild(own);
    right->AddChild(plain);
    own->SetText("hello");
    plain->SetText("hello");
  }));
  // A click far right of the text: the text view's own handling puts the
  // caret at the end.
  gui_synthetic::click(*own, BPoint(90, 5), B_SECONDARY_MOUSE_BUTTON);
  gui_synthetic::click(*plain, BPoint(90, 5), B_PRIMARY_MOUSE_BUTTON);
  ASSERT_TRUE(pump_until([&] { return own->seen_buttons == B_SECONDARY_MOUSE_BUTTON; }));
  ASSERT_TRUE(pump_until([&] {
    on_window_thread(*window, [&] {
      own->GetSelection(&own_caret, nullptr);
      plain->GetSelection(&plain_caret, nullptr);
    });
    return plain_caret == 5;
  }));
  EXPECT_EQ(own_caret, 0) << "the platform's handling did not run for the derived view";
}

}  // namespace
