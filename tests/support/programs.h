// Programs a test runs beside itself: found on the search path (and in the
// system folders a user's PATH may leave out), run to completion with a
// bound, their output kept for the failure message.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace wyke_test {

// The full path of `name` on PATH, /usr/sbin or /sbin, or "" when none.
std::string find_program(const std::string& name);

// Runs argv[0] (a full path) with the rest as arguments, stdout and stderr
// into `output`. True when it exited with 0 and closed its output within
// `limit`; otherwise it is killed then, with whatever it started.
bool run_program(const std::vector<std::string>& argv, std::string& output,
                 std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace wyke_test
