// Which of Qt's platforms the notifier asks for, found before anything is
// written to disk, so that a start without a display ends with one line
// saying why instead of Qt's abort.
#pragma once

#include <string>

struct display_choice {
  // "xcb", "wayland", or empty: the user chose with QT_QPA_PLATFORM, or
  // there is no display at all.
  std::string platform;
  // With no display: what was tried, for the user.
  std::string tried;
  bool found() const { return tried.empty(); }
};

// X11 first (an X11 window can be minimized and brought back by its program;
// on a Wayland desktop XWayland gives one), native Wayland second. A
// platform the user set in QT_QPA_PLATFORM is taken as it is. Looked for
// once, then remembered. Main thread, before the application is made.
const display_choice& find_display();
