#include "gui/qt/qt_calls.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace gui_detail {

namespace {

const QEvent::Type call_event_type = static_cast<QEvent::Type>(QEvent::registerEventType());

class CallEvent : public QEvent {
 public:
  explicit CallEvent(std::function<void()> fn) : QEvent(call_event_type), fn_(std::move(fn)) {}
  void run() { fn_(); }

 private:
  std::function<void()> fn_;
};

// Lives on the Qt thread and runs the calls posted to it, in order.
class Bridge : public QObject {
 public:
  bool event(QEvent* e) override;
};

// A call somebody waits for. Its state moves Pending -> Running -> Done on the
// Qt thread, or Pending -> Dropped on the waiting thread; so `fn`, which may
// point into the waiter's stack, runs only while the waiter still waits.
struct Waited {
  enum State { Pending, Running, Done, Dropped };
  explicit Waited(const std::function<void()>& f) : fn(f) {}
  const std::function<void()>& fn;
  State state = Pending;
};

std::atomic<std::thread::id> qt_thread{};
std::mutex hub;                 // guards bridge, quitting and every Waited::state
std::condition_variable moved;  // a Waited changed state, or quitting began
Bridge* bridge = nullptr;
bool quitting = false;

bool Bridge::event(QEvent* e) {
  // The poster held `hub` while it made and posted the call. Taking it before
  // looking at the event orders the making before the running in terms
  // ThreadSanitizer sees; Qt's own hand-over of posted events is invisible to it.
  { std::lock_guard lock(hub); }
  if (e->type() != call_event_type) return QObject::event(e);
  static_cast<CallEvent*>(e)->run();
  return true;
}

void run_waited(const std::shared_ptr<Waited>& call) {
  {
    std::lock_guard lock(hub);
    if (call->state != Waited::Pending) return;
    call->state = Waited::Running;
  }
  call->fn();
  std::lock_guard lock(hub);
  call->state = Waited::Done;
  moved.notify_all();
}

}  // namespace

bool on_qt_thread() { return std::this_thread::get_id() == qt_thread.load(); }

bool call_on_qt(const std::function<void()>& fn) {
  if (on_qt_thread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<Waited>(fn);
  std::unique_lock lock(hub);
  if (!bridge || quitting) return false;
  QCoreApplication::postEvent(bridge, new CallEvent([call] { run_waited(call); }));
  moved.wait(lock, [&] {
    return call->state == Waited::Done || (call->state == Waited::Pending && (quitting || !bridge));
  });
  if (call->state == Waited::Done) return true;
  call->state = Waited::Dropped;
  return false;
}

void post_to_qt(std::function<void()> fn) {
  if (on_qt_thread())
    fn();
  else
    queue_for_qt(std::move(fn));
}

void queue_for_qt(std::function<void()> fn) {
  std::lock_guard lock(hub);
  if (bridge) QCoreApplication::postEvent(bridge, new CallEvent(std::move(fn)));
}

void attach_qt_thread() {
  std::lock_guard lock(hub);
  qt_thread = std::this_thread::get_id();
  bridge = new Bridge;
  quitting = false;
}

void detach_qt_thread() {
  Bridge* gone = nullptr;
  {
    std::lock_guard lock(hub);
    gone = bridge;
    bridge = nullptr;
    qt_thread = std::thread::id();
    moved.notify_all();
  }
  delete gone;  // its queued calls go with it, unrun
}

void set_quitting(bool value) {
  std::lock_guard lock(hub);
  quitting = value;
  moved.notify_all();
}

void run_queued_calls() {
  Bridge* target = nullptr;
  {
    std::lock_guard lock(hub);
    target = bridge;
  }
  if (target) QCoreApplication::sendPostedEvents(target, call_event_type);
}

}  // namespace gui_detail
