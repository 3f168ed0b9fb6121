// The application's list of windows, in the order they were made. Any thread.
// Private to the kit.
#pragma once

#include <memory>

class BWindow;

namespace gui_detail {

class Port;

void register_window(BWindow* window, std::shared_ptr<Port> port);
void unregister_window(BWindow* window);
// The window's thread is about to start.
void window_started(BWindow* window);

}  // namespace gui_detail
