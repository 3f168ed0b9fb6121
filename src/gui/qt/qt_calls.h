// How the kit's objects reach the Qt thread, which alone touches widgets.
//
// A call that answers (a query) waits for the Qt thread; a call that only
// changes something (a command) is queued and does not wait. Both go through
// one queue, so a thread's queries see the effect of its earlier commands. On
// the Qt thread itself both run at once: a queued call waited for on the Qt
// thread would never run.
//
// The Qt thread never waits for another thread through these calls, and once
// the application is quitting no new wait starts and pending waits end
// unanswered, so a thread blocked here can always finish.
#pragma once

#include <functional>

namespace gui_detail {

// True on the thread that made the application (the Qt thread).
bool on_qt_thread();

// Runs `fn` on the Qt thread and waits for it. False, and `fn` never runs,
// when there is no Qt thread or the application is quitting.
bool call_on_qt(const std::function<void()>& fn);

// Queues `fn` for the Qt thread (on the Qt thread: runs it at once). Dropped
// when there is no Qt thread.
void post_to_qt(std::function<void()> fn);

// Queues `fn` for the Qt thread's event loop, also from the Qt thread itself:
// for what must happen later, as a posted message does.
void queue_for_qt(std::function<void()> fn);

// --- The Qt thread's side (application.cpp) ------------------------------------

// Makes the calling thread the Qt thread; needs a QApplication.
void attach_qt_thread();
// Stops serving calls for good: pending calls are dropped.
void detach_qt_thread();
// While quitting, waits are refused (see above); commands still run.
void set_quitting(bool quitting);

// Runs every queued call now (Qt thread).
void run_queued_calls();

}  // namespace gui_detail
