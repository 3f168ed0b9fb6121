// Handlers and loopers: objects that receive messages, and the threads that
// deliver them one at a time.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "gui/message.h"
#include "platform/types.h"

using thread_id = int32;

class BLooper;

namespace gui_detail {
class Port;
struct Envelope;

// Runs `fn` on the looper's thread, with its lock held, after the messages
// already queued (once the thread runs). False when the looper has gone.
// For tests and tools that must act as the looper's own code does.
bool post_call(BLooper& looper, std::function<void()> fn);
}  // namespace gui_detail

// Something a message can be addressed to.
class BHandler {
 public:
  explicit BHandler(const char* name = nullptr);
  virtual ~BHandler();
  BHandler(const BHandler&) = delete;
  BHandler& operator=(const BHandler&) = delete;

  // Hook for messages the kit does not handle itself. Runs on the looper's
  // thread with the looper locked. Does nothing here.
  virtual void MessageReceived(BMessage* message);

  const char* Name() const { return name_.c_str(); }
  // The kit's own identifier of this handler, never reused in a process.
  uint64 handler_token() const { return token_; }

 private:
  std::string name_;
  uint64 token_;
};

// A thread with a message queue. Messages are handled one at a time, in the
// order they were posted, with the looper's lock held.
class BLooper : public BHandler {
 public:
  explicit BLooper(const char* name = nullptr);
  ~BLooper() override;

  // --- Messaging (any thread) -------------------------------------------------

  // Posts a copy of `message` (the caller keeps its own) for `handler`, which
  // is the looper itself when null. Replies are not carried: nothing in the kit
  // answers a message, so `reply_to` is accepted and unused.
  status_t PostMessage(BMessage* message, BHandler* handler = nullptr, BHandler* reply_to = nullptr);
  status_t PostMessage(uint32 command, BHandler* handler = nullptr, BHandler* reply_to = nullptr);

  // --- Handling (the looper's thread) -------------------------------------------

  // The message being handled, while a hook runs for it; null otherwise.
  BMessage* CurrentMessage() const { return current_; }
  // Routes a message: B_QUIT_REQUESTED for the looper asks QuitRequested and
  // then quits; everything else goes to the handler's MessageReceived.
  virtual void DispatchMessage(BMessage* message, BHandler* handler);

  // --- Life ---------------------------------------------------------------------

  // Starts the looper's thread. Any thread; once.
  virtual thread_id Run();
  // Any thread. Before Run, deletes the looper at once. On the looper's own
  // thread it returns, and the looper is deleted there when the message at hand
  // is done. From another thread it asks the looper to do so next, and returns
  // without waiting.
  virtual void Quit();
  // Asked on the looper's thread when B_QUIT_REQUESTED arrives. True here.
  virtual bool QuitRequested();

  // --- Locking ------------------------------------------------------------------

  // Held while a message is handled. Recursive. The Qt thread never waits for
  // a running looper, so there Lock refuses (false) once the thread has started.
  bool Lock();
  void Unlock();

 protected:
  // Where a posted message goes: this looper's queue. The application hands it
  // to the Qt thread instead.
  virtual status_t deliver(std::unique_ptr<BMessage> message, uint64 target);
  // The handler a token names, or null when it is gone.
  virtual BHandler* handler_for(uint64 token);
  // A pulse is due (looper thread, locked).
  virtual void pulse();
  // Handles one message: sets CurrentMessage and dispatches it.
  void handle(gui_detail::Envelope envelope);

  gui_detail::Port& port() const { return *port_; }
  const std::shared_ptr<gui_detail::Port>& shared_port() const { return port_; }
  bool started() const { return started_.load(); }
  bool on_own_thread() const { return std::this_thread::get_id() == thread_.load(); }

 private:
  friend bool gui_detail::post_call(BLooper&, std::function<void()>);
  void loop();

  std::shared_ptr<gui_detail::Port> port_;
  std::recursive_mutex lock_;
  BMessage* current_ = nullptr;
  std::atomic<bool> started_{false};
  std::atomic<std::thread::id> thread_{};
  bool quitting_ = false;  // looper thread only
};
