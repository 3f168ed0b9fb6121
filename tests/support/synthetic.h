// Driving the kit from outside, as a user would: clicks, typing, F1 and the
// close box become the Qt events the window system delivers, so the kit's own
// paths run. For tests; every function runs on the Qt thread.
#pragma once

#include <string>
#include <vector>

#include "gui/geometry.h"
#include "platform/types.h"

class BView;
class BWindow;

namespace gui_synthetic {

// Presses `buttons` (B_PRIMARY_MOUSE_BUTTON ... or-ed for a chord: the last
// press of a chord, with all of them held) at `where` in the view's
// coordinates, and lets them go. Through the window when it is shown, which
// hands the press to the widget under the pointer.
void click(const BView& view, BPoint where, int32 buttons);

// Types UTF-8 text into the view, one key per character. "\b" is Backspace,
// "\x7f" Delete, "\n" Return, "\t" Tab.
void type(const BView& view, const char* text);

// F1, with the focus in `window`.
void press_help_key(const BWindow& window);

// The window manager's close request: what the close box does.
void close_box(const BWindow& window);

// Rests the pointer on the view at `where` until its tooltip would show;
// returns the tooltip's text as shown (plain), empty when none shows.
std::string rest_pointer(const BView& view, BPoint where);

// Turns the mouse wheel over the view by `notches` (positive: away from the
// user, which scrolls up).
void turn_wheel(const BView& view, BPoint where, int notches);

// Where windows may go on the window's screen: its area less the panels.
BRect available_screen_area(const BWindow& window);

// "title: text" of each alert on the screen, oldest first.
std::vector<std::string> open_alerts();

// Handles the Qt events and queued calls that are pending now.
void process_events();

// The view as it paints now.
struct Snapshot {
  int width = 0;
  int height = 0;
  std::vector<uint32> pixels;  // 0xAARRGGBB, row by row
  uint32 at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};
Snapshot snapshot(const BView& view);

}  // namespace gui_synthetic
