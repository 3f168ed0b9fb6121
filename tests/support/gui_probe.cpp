#include "gui_probe.h"

#include "gui/window.h"

namespace wyke_test {

ProbeView::ProbeView(BRect frame, const char* name, uint32 flags, uint32 resizing_mode)
    : BView(frame, name, resizing_mode, flags) {}

void ProbeView::Pulse() {
  pulse_thread = std::this_thread::get_id();
  ++pulses;
}

void ProbeView::MouseDown(BPoint where) {
  int32 buttons = -1;
  if (BMessage* message = Window() ? Window()->CurrentMessage() : nullptr) message->FindInt32("buttons", &buttons);
  {
    std::lock_guard lock(mutex_);
    where_ = where;
  }
  last_buttons = buttons;
  mouse_thread = std::this_thread::get_id();
  ++mouse_downs;
}

BPoint ProbeView::last_where() const {
  std::lock_guard lock(mutex_);
  return where_;
}

}  // namespace wyke_test
