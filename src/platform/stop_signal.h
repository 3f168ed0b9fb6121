// A stop that one thread raises and another thread's waits see at once: a
// descriptor that polls readable once raised (transport_limits::stop_fd),
// and a sleep that ends at it or at the network cancel. What a long-lived
// connection's thread waits on, besides its socket.
#pragma once

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Any thread; stays raised.
  void raise();
  bool raised() const;
  int fd() const { return fd_; }
  // Sleeps `ms`, or less when raised or the network waits are cancelled:
  // true when it slept the whole time.
  bool sleep(int ms) const;

 private:
  int fd_;
};

// CLOCK_BOOTTIME runs on while the machine sleeps, CLOCK_MONOTONIC does
// not: when the gap between them grows, the machine was suspended, and
// every connection held across it may be dead without a word.
class SuspendClock {
 public:
  SuspendClock() : gap_ms_(gap_now()) {}
  // Whether the machine slept since the last call (or the making).
  bool resumed();

 private:
  static long long gap_now();
  long long gap_ms_;
};
