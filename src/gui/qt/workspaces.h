// Putting a window on every workspace of an X11 desktop. Private to the kit;
// Qt thread only.
#pragma once

class QWidget;

namespace gui_detail {

// Asks the window manager to show the top-level `window` on every workspace.
// Before the window is first shown; does nothing off X11.
void show_on_every_workspace(QWidget* window);

}  // namespace gui_detail
