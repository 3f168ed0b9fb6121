// Commands that print a secret: what is kept of their output, what the user
// is told when they fail, and that none of them can hold the caller.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/helper_command.h"
#include "platform/network_cancel.h"
#include "temp_config.h"

namespace {

using namespace std::chrono_literals;

struct OutputCase {
  const char* name;
  std::string command;
  bool ok;
  std::string line;     // when ok
  std::string failure;  // a part of the failure text, when not ok
};

const std::vector<OutputCase> output_cases = {
    {"first_line_without_its_newline", "printf 'pa ss=1\\n'", true, "pa ss=1", ""},
    {"no_newline_at_all", "printf secret", true, "secret", ""},
    {"only_the_first_line", "printf 'one\\ntwo\\n'", true, "one", ""},
    {"exactly_the_bound", "head -c 255 /dev/zero | tr '\\0' x", true, std::string(255, 'x'), ""},
    {"stdin_is_empty", "read x || echo eof", true, "eof", ""},
    {"user_environment", "printf '%s\\n' \"$WYKE_HELPER_TEST\"", true, "from the environment", ""},
    {"exit_status_and_stderr_never_stdout", "echo leaked; echo 'no such entry' >&2; echo more >&2; exit 1", false, "",
     "exited with status 1: no such entry"},
    {"exit_status_alone", "echo leaked; exit 3", false, "", "exited with status 3"},
    {"control_bytes_of_stderr_shown_harmless", "printf 'a\\tb\\033c\\n' >&2; exit 2", false, "",
     "exited with status 2: a?b?c"},
    {"c1_controls_of_stderr_shown_harmless", "printf 'gr\\303\\274n \\302\\23331m\\n' >&2; exit 2", false, "",
     "exited with status 2: gr??n ??31m"},
    {"cr_lf_line_end", "printf 'secret\\r\\n'", true, "secret", ""},
    {"cr_lf_after_the_bound", "head -c 255 /dev/zero | tr '\\0' x; printf '\\r\\n'", true, std::string(255, 'x'), ""},
    {"carriage_return_inside", "printf 'sec\\rret\\n'", false, "", "printed a line with a carriage return"},
    {"two_carriage_returns", "printf 'secret\\r\\r\\n'", false, "", "printed a line with a carriage return"},
    {"nul_inside", "printf 'sec\\000ret\\n'", false, "", "printed a line with a NUL byte"},
    {"signal", "echo leaked; kill -TERM $$", false, "", "was ended by signal 15"},
    {"empty_first_line", "printf '\\nleaked\\n'", false, "", "printed nothing"},
    {"one_past_the_bound", "head -c 256 /dev/zero | tr '\\0' x", false, "", "longer than 255 bytes"},
    {"a_megabyte_without_newline", "head -c 1048576 /dev/zero | tr '\\0' x", false, "", "longer than 255 bytes"},
    {"no_such_program", "/nonexistent/wyke-helper", false, "", "exited with status 127: "},
};

TEST(HelperCommand, OutputAndFailures) {
  setenv("WYKE_HELPER_TEST", "from the environment", 1);
  for (const OutputCase& c : output_cases) {
    SCOPED_TRACE(c.name);
    const HelperOutput got = run_helper_command(c.command, 255);
    EXPECT_EQ(got.ok, c.ok) << got.failure;
    if (c.ok) {
      EXPECT_EQ(got.line, c.line);
      EXPECT_EQ(got.failure, "");
    } else {
      EXPECT_EQ(got.line, "") << "nothing of a failed command is handed out";
      EXPECT_NE(got.failure.find(c.failure), std::string::npos) << got.failure;
      EXPECT_EQ(got.failure.find("leaked"), std::string::npos) << got.failure;
      EXPECT_LE(got.failure.size(), helper_command_max_reason + 40);
    }
  }
  unsetenv("WYKE_HELPER_TEST");
}

// A descriptor some library opened without close-on-exec (a file, a
// socket, a pipe) must not reach the command, nor what it leaves running.
TEST(HelperCommand, InheritsNoDescriptorButItsThree) {
  struct Case {
    const char* name;
    int (*open)();
  } cases[] = {
      {"file", [] { return open("/dev/null", O_RDONLY); }},
      {"socket", [] { return socket(AF_UNIX, SOCK_STREAM, 0); }},
      {"pipe",
       [] {
         int ends[2];
         if (pipe(ends) != 0) return -1;
         close(ends[0]);
         return ends[1];
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = c.open();
    ASSERT_GE(fd, 3);
    const std::string path = "/proc/$$/fd/" + std::to_string(fd);
    const HelperOutput got = run_helper_command("if [ -e " + path + " ]; then echo open; else echo closed; fi", 255);
    close(fd);
    EXPECT_TRUE(got.ok) << got.failure;
    EXPECT_EQ(got.line, "closed");
  }
}

// A process the command started, by the pid it wrote down: gone, or a
// zombie waiting for whoever inherited it.
bool still_running(const std::string& pid_file) {
  std::ifstream in(pid_file);
  int pid = 0;
  if (!(in >> pid) || pid <= 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string skip, state;
  if (!(stat >> skip >> skip >> state)) return false;
  return state != "Z";
}

// SIGKILL is delivered as the process next runs: allow it that.
bool ended_soon(const std::string& pid_file) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (still_running(pid_file))
    if (std::chrono::steady_clock::now() > until) return false;
  return true;
}

void stop(const std::string& pid_file) {
  std::ifstream in(pid_file);
  int pid = 0;
  if (in >> pid && pid > 0) kill(pid, SIGKILL);
}

struct BoundCase {
  const char* name;
  std::string command;  // "PIDS" stands for a file to write the pid of what it leaves behind
  bool ok;
  std::string failure;
  bool left_behind_ended;  // what it started in its own group is ended
};

const std::vector<BoundCase> bound_cases = {
    {"sleeps_past_the_bound", "echo $$ > PIDS; sleep 60", false, "gave no answer within 1 s and was ended", true},
    {"prints_then_hangs", "echo $$ > PIDS; echo pw; exec sleep 60", false, "gave no answer within 1 s", true},
    {"endless_output", "echo $$ > PIDS; yes", false, "gave no answer within 1 s", true},
    {"child_keeps_running_and_the_pipes", "sleep 60 & echo $! > PIDS; echo pw", true, "", true},
    {"child_in_a_session_of_its_own_holds_the_pipes", "setsid sleep 60 & echo $! > PIDS; echo pw", true, "", false},
};

TEST(HelperCommand, NeverHoldsTheCaller) {
  const int saved = helper_command_timeout_ms;
  // Long enough for a loaded machine to start the commands that finish.
  helper_command_timeout_ms = 1000;
  for (const BoundCase& c : bound_cases) {
    SCOPED_TRACE(c.name);
    wyke_test::TempConfigHome home;
    const std::string pids = home.path("pids");
    std::string command = c.command;
    command.replace(command.find("PIDS"), 4, "'" + pids + "'");
    const auto start = std::chrono::steady_clock::now();
    const HelperOutput got = run_helper_command(command, 255);
    // Far below the 60 s the command asks for: it was not waited out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(got.ok, c.ok) << got.failure;
    if (c.ok) {
      EXPECT_EQ(got.line, "pw");
    }
    EXPECT_NE(got.failure.find(c.failure), std::string::npos) << got.failure;
    if (c.left_behind_ended) {
      EXPECT_TRUE(ended_soon(pids));
    }
    stop(pids);
  }
  helper_command_timeout_ms = saved;
}

// A parent may leave SIGCHLD ignored, and exec keeps that: the kernel then
// reaps the command by itself, and its end (and exit status) could not be
// seen. Whatever the process was given, a command's end is seen.
TEST(HelperCommand, SeesTheEndWhateverSigchldWasLeftAs) {
  const int saved_timeout = helper_command_timeout_ms;
  helper_command_timeout_ms = 5000;
  struct sigaction saved{};
  sigaction(SIGCHLD, nullptr, &saved);
  struct Case {
    const char* name;
    void (*handler)(int);
    int flags;
  } cases[] = {{"ignored", SIG_IGN, 0}, {"no_zombies_asked", SIG_DFL, SA_NOCLDWAIT}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct sigaction given{};
    given.sa_handler = c.handler;
    given.sa_flags = c.flags;
    sigaction(SIGCHLD, &given, nullptr);
    const HelperOutput ok = run_helper_command("echo pw", 255);
    EXPECT_TRUE(ok.ok) << ok.failure;
    EXPECT_EQ(ok.line, "pw");
    const HelperOutput failed = run_helper_command("exit 3", 255);
    EXPECT_NE(failed.failure.find("exited with status 3"), std::string::npos) << failed.failure;
  }
  sigaction(SIGCHLD, &saved, nullptr);
  helper_command_timeout_ms = saved_timeout;
}

TEST(HelperCommand, ClosingTheNotifierEndsIt) {
  cancel_network_waits();
  const auto start = std::chrono::steady_clock::now();
  const HelperOutput got = run_helper_command("sleep 60", 255);
  reset_network_cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  EXPECT_FALSE(got.ok);
  EXPECT_EQ(got.failure, "was ended: the check was cancelled");
}

}  // namespace
