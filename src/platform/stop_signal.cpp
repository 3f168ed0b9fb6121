#include "platform/stop_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/network_cancel.h"

namespace {

long long milliseconds_of(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Two clock readings apart by less than this are the same instant: the
// reads themselves and a busy machine account for far less.
constexpr long long same_gap_ms = 2000;

}  // namespace

StopSignal::StopSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
  if (fd_ >= 0) close(fd_);
}

void StopSignal::raise() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

bool StopSignal::raised() const {
  pollfd raised{fd_, POLLIN, 0};
  return poll(&raised, 1, 0) == 1;
}

bool StopSignal::sleep(int ms) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    if (left <= 0) return true;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {network_cancel_fd(), POLLIN, 0}};
    const int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n != 0 || network_waits_cancelled()) return false;
  }
}

bool SuspendClock::resumed() {
  const long long gap = gap_now();
  const bool slept = gap - gap_ms_ > same_gap_ms;
  gap_ms_ = gap;
  return slept;
}

long long SuspendClock::gap_now() { return milliseconds_of(CLOCK_BOOTTIME) - milliseconds_of(CLOCK_MONOTONIC); }
