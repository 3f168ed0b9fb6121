// Bringing a minimized window back under X11 without taking the focus.
// Private to the kit; Qt thread only.
#pragma once

class QWidget;

namespace gui_detail {

// Asks the window manager to restore `window` from its icon (WM_CHANGE_STATE
// to the normal state). A manager that honours it restores the window as it
// was, inactive, and then ignores the map that Qt's own restore sends after
// it; Openbox activates a window that an icon's map brings back, so without
// this every restore would take the focus from the window the user types
// in. False when the display is no X11 one.
bool ask_window_manager_to_restore(QWidget& window);

}  // namespace gui_detail
