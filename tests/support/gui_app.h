// The GUI kit in a test: one application per test binary, the main thread as
// its Qt thread, and bounded waits that keep Qt's events flowing.
//
// A test body runs on the Qt thread. It may make windows and views there and
// call them until their window is shown; from then on a window's calls belong
// to its thread, so the test hands them over with on_window_thread. User
// input comes from synthetic.h (click, type, press_help_key, close_box).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "gui/application.h"
#include "gui/window.h"

namespace wyke_test {

using namespace std::chrono_literals;

// An application whose hooks a test can set.
class HookApplication : public BApplication {
 public:
  HookApplication();
  void ReadyToRun() override;
  void AboutRequested() override;

  std::function<void()> on_ready;  // run by ReadyToRun, then cleared
  int about_requests = 0;
};

// The application of the test binary, made on first use by `make` (a
// HookApplication when null) and deleted after the last test. Later calls
// return the same object whatever they pass.
BApplication& gui_app(const std::function<BApplication*()>& make = nullptr);
// The same, when it is the default HookApplication.
HookApplication& hook_app();

// Handles Qt events and the kit's queued calls until `done` holds or
// `timeout` passes. True when `done` held.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s);

// Runs `fn` on the thread of a shown window, with its lock held as a hook's
// would be, and waits for it while handling Qt events; afterwards the
// commands `fn` queued have reached the widgets. False on time-out.
bool on_window_thread(BWindow& window, std::function<void()> fn, std::chrono::milliseconds timeout = 5s);

// Closes every window and alert left, at once, as quitting does.
void close_all_windows();

// Base of GUI tests: the application exists, and nothing a test opened
// outlives it.
class GuiTest : public testing::Test {
 protected:
  void SetUp() override { gui_app(); }
  void TearDown() override { close_all_windows(); }
};

}  // namespace wyke_test
