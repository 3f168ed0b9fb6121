#include "gui/qt/port.h"

namespace gui_detail {

bool Port::push(Envelope envelope) { return enqueue(std::move(envelope), false); }

bool Port::push_first(Envelope envelope) { return enqueue(std::move(envelope), true); }

bool Port::enqueue(Envelope envelope, bool first) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  if (first)
    queue_.push_front(std::move(envelope));
  else
    queue_.push_back(std::move(envelope));
  changed_.notify_one();
  return true;
}

void Port::close() {
  std::deque<Envelope> dropped;
  std::lock_guard lock(mutex_);
  closed_ = true;
  dropped.swap(queue_);
}

std::optional<Envelope> Port::wait() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!queue_.empty()) {
      Envelope next = std::move(queue_.front());
      queue_.pop_front();
      return next;
    }
    if (rate_ <= 0) {
      changed_.wait(lock);
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (now < next_pulse_) {
      changed_.wait_until(lock, next_pulse_);
      continue;
    }
    // A pulse is due. After a long stretch without pulses the next one is a
    // whole interval away rather than a burst of missed ones.
    const auto interval = std::chrono::microseconds(rate_);
    next_pulse_ += interval;
    if (next_pulse_ <= now) next_pulse_ = now + interval;
    return std::nullopt;
  }
}

void Port::set_pulse_rate(bigtime_t rate) {
  std::lock_guard lock(mutex_);
  rate_ = rate;
  next_pulse_ = Clock::now() + std::chrono::microseconds(rate > 0 ? rate : 0);
  changed_.notify_one();
}

void Port::restart_pulse() {
  std::lock_guard lock(mutex_);
  next_pulse_ = Clock::now() + std::chrono::microseconds(rate_ > 0 ? rate_ : 0);
}

bigtime_t Port::pulse_rate() const {
  std::lock_guard lock(mutex_);
  return rate_;
}

}  // namespace gui_detail
