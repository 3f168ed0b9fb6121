// A command of the user's choosing that prints a secret (a password, an
// OAuth 2.0 access token): `/bin/sh -c COMMAND` with stdin from /dev/null,
// no descriptor of this process beyond stdout and stderr, and the user's
// environment, in a process group of its own.
//
// The command is bounded in time (its whole group is killed when the time
// passes) and in output (the first line of stdout is kept up to a size, the
// rest read and dropped). Whatever it left running in its process group is
// ended with it, and nothing it leaves behind (a grandchild holding the
// pipes, even in a group of its own) can keep the caller waiting; closing
// the notifier (cancel_network_waits) ends it as it ends the waits of the
// network. Safe from any thread: the command is reaped by its pid alone, no signal handler is installed (a SIGCHLD left ignored, which
// would have the kernel reap it unseen, is set back to its default).
#pragma once

#include <cstddef>
#include <string>

// How long a command may run, in milliseconds. Tests shorten it.
inline constexpr int helper_command_default_timeout_ms = 10 * 1000;
extern int helper_command_timeout_ms;

// The longest first line of stderr kept for the reason of a failure.
inline constexpr std::size_t helper_command_max_reason = 200;

class HelperOutput {
 public:
  HelperOutput() = default;
  HelperOutput(HelperOutput&&) = default;
  HelperOutput(const HelperOutput&) = delete;
  HelperOutput& operator=(const HelperOutput&) = delete;
  ~HelperOutput();

  // The command exited with status 0 and printed a first line that is
  // neither empty nor too long, and holds no CR or NUL byte.
  bool ok = false;
  // That first line without its line end (LF or CR LF): the secret, wiped
  // on destruction.
  std::string line;
  // Why it is not ok, for the user: the exit status or signal and the first
  // line of stderr; never anything of stdout.
  std::string failure;
};

// Runs `command` and waits for it, at most helper_command_timeout_ms.
// `max_line` bounds the first line of stdout: a longer one is a failure,
// never cut (a cut secret would sign in wrongly).
HelperOutput run_helper_command(const std::string& command, std::size_t max_line);
