// The clock of every bounded wait, and the arithmetic of its deadlines.
#pragma once

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>

using check_clock = std::chrono::steady_clock;

// No deadline at all.
inline constexpr check_clock::time_point no_deadline = check_clock::time_point::max();

// `ms` from now; no_deadline for 0 (or less), which waits for ever.
inline check_clock::time_point deadline_after(int ms) {
  return ms > 0 ? check_clock::now() + std::chrono::milliseconds(ms) : no_deadline;
}

// Milliseconds from now until `deadline`, never below 0.
inline long long milliseconds_until(check_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - check_clock::now()).count();
  return left > 0 ? left : 0;
}

// What poll(2) waits at most to meet `deadline`: -1 (for ever) for
// no_deadline, otherwise the milliseconds left, within an int.
inline int poll_timeout_until(check_clock::time_point deadline) {
  if (deadline == no_deadline) return -1;
  return static_cast<int>(std::min<long long>(milliseconds_until(deadline), INT_MAX));
}

// "20 s", or "250 ms" below a second, for the user's reasons.
inline std::string duration_text(int ms) {
  return ms >= 1000 && ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}
