#include "gui/looper.h"

#include "gui/qt/port.h"
#include "gui/qt/qt_calls.h"
#include "gui/qt/threads.h"

namespace {
std::atomic<uint64> next_token{1};
std::atomic<thread_id> next_thread_id{1};
}  // namespace

// --- BHandler -------------------------------------------------------------------

BHandler::BHandler(const char* name) : name_(name ? name : ""), token_(next_token++) {}

BHandler::~BHandler() = default;

void BHandler::MessageReceived(BMessage*) {}

// --- BLooper --------------------------------------------------------------------

BLooper::BLooper(const char* name) : BHandler(name), port_(std::make_shared<gui_detail::Port>()) {}

BLooper::~BLooper() { port_->close(); }

status_t BLooper::PostMessage(BMessage* message, BHandler* handler, BHandler*) {
  if (message == nullptr) return B_BAD_VALUE;
  const uint64 target = (handler == nullptr || handler == this) ? 0 : handler->handler_token();
  return deliver(std::make_unique<BMessage>(*message), target);
}

status_t BLooper::PostMessage(uint32 command, BHandler* handler, BHandler* reply_to) {
  BMessage message(command);
  return PostMessage(&message, handler, reply_to);
}

status_t BLooper::deliver(std::unique_ptr<BMessage> message, uint64 target) {
  return port_->push({std::move(message), target, {}}) ? B_OK : B_ERROR;
}

BHandler* BLooper::handler_for(uint64 token) {
  return (token == 0 || token == handler_token()) ? this : nullptr;
}

void BLooper::DispatchMessage(BMessage* message, BHandler* handler) {
  if (message->what == B_QUIT_REQUESTED && handler == this) {
    if (QuitRequested()) Quit();
    return;
  }
  handler->MessageReceived(message);
}

void BLooper::handle(gui_detail::Envelope envelope) {
  if (envelope.call) {
    envelope.call();
    return;
  }
  if (envelope.message->what == gui_detail::quit_now) {
    quitting_ = true;
    return;
  }
  BHandler* handler = handler_for(envelope.target);
  if (handler == nullptr) return;  // a view that has gone since
  BMessage* outer = current_;
  current_ = envelope.message.get();
  DispatchMessage(current_, handler);
  current_ = outer;
}

void BLooper::pulse() {}

thread_id BLooper::Run() {
  if (started_.exchange(true)) return B_ERROR;
  gui_detail::start_looper_thread([this, port = port_] {
    thread_ = std::this_thread::get_id();
    port->restart_pulse();
    loop();
    delete this;
  });
  return next_thread_id++;
}

void BLooper::loop() {
  while (!quitting_) {
    std::optional<gui_detail::Envelope> next = port_->wait();
    std::lock_guard lock(lock_);
    if (next)
      handle(std::move(*next));
    else
      pulse();
  }
}

void BLooper::Quit() {
  if (!started_) {
    delete this;
    return;
  }
  if (on_own_thread()) {
    quitting_ = true;
    return;
  }
  port_->push_first({std::make_unique<BMessage>(gui_detail::quit_now), 0, {}});
}

bool BLooper::QuitRequested() { return true; }

bool BLooper::Lock() {
  if (gui_detail::on_qt_thread() && started_ && !on_own_thread()) return false;
  lock_.lock();
  return true;
}

void BLooper::Unlock() { lock_.unlock(); }

bool gui_detail::post_call(BLooper& looper, std::function<void()> fn) {
  return looper.port_->push({nullptr, 0, std::move(fn)});
}
