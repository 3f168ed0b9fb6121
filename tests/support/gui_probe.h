// A view that records the hooks the kit calls on it, for tests of windows,
// pulses and clicks. Its counters may be read from any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "gui/view.h"

namespace wyke_test {

class ProbeView : public BView {
 public:
  ProbeView(BRect frame, const char* name, uint32 flags = B_WILL_DRAW | B_PULSE_NEEDED,
            uint32 resizing_mode = B_FOLLOW_ALL);

  void Pulse() override;
  // Records "buttons" of the window's CurrentMessage (-1 when it has none).
  void MouseDown(BPoint where) override;

  std::atomic<int> pulses{0};
  std::atomic<int> mouse_downs{0};
  std::atomic<int32> last_buttons{-1};
  std::atomic<std::thread::id> pulse_thread{};  // where the last Pulse ran
  std::atomic<std::thread::id> mouse_thread{};  // where the last MouseDown ran

  BPoint last_where() const;

 private:
  mutable std::mutex mutex_;
  BPoint where_;
};

}  // namespace wyke_test
