// The looper threads of the process: started here, joined on the Qt thread
// once they are done.
#pragma once

#include <chrono>
#include <functional>

namespace gui_detail {

// Starts a thread that runs `body`.
void start_looper_thread(std::function<void()> body);

// Qt thread: joins the threads whose body has returned; they have nothing
// left to do but end, so this does not wait on their work.
void join_finished_threads();

// How many looper threads still run their body.
int running_looper_threads();

// Waits until a looper thread finishes or `timeout` passes.
void wait_for_a_thread(std::chrono::milliseconds timeout);

}  // namespace gui_detail
