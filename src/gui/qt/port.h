// A looper's message queue and its pulse clock. Any thread may post; the
// looper's own thread waits on it. Shared, so that a widget may still post to
// a window that has gone (the message is then dropped).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <functional>
#include <mutex>
#include <optional>

#include "gui/message.h"
#include "platform/types.h"

namespace gui_detail {

// A message and the handler it is for (0: the looper itself), or a call to
// run on the looper's thread.
struct Envelope {
  std::unique_ptr<BMessage> message;
  uint64 target = 0;
  std::function<void()> call;
};

// Asks a looper to end after the message at hand, without its hooks.
inline constexpr uint32 quit_now = message_code("_QIT");

class Port {
 public:
  using Clock = std::chrono::steady_clock;

  // False, and the message is dropped, once the port is closed.
  bool push(Envelope envelope);
  // Ahead of everything queued: the looper handles it next.
  bool push_first(Envelope envelope);
  // Refuses further messages and drops those still queued.
  void close();

  // Waits for a message or the next pulse, whichever comes first; empty
  // when it is time to pulse.
  std::optional<Envelope> wait();

  // 0 stops the pulse; otherwise the next one comes `rate` from now.
  void set_pulse_rate(bigtime_t rate);
  // The next pulse comes a whole interval from now.
  void restart_pulse();
  bigtime_t pulse_rate() const;

 private:
  bool enqueue(Envelope envelope, bool first);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Envelope> queue_;
  bool closed_ = false;
  bigtime_t rate_ = 0;
  Clock::time_point next_pulse_{};
};

}  // namespace gui_detail
