#include "platform/helper_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/check_clock.h"
#include "platform/network_cancel.h"
#include "platform/secret.h"
#include "platform/untrusted_text.h"

extern char** environ;

int helper_command_timeout_ms = helper_command_default_timeout_ms;

namespace {


// How often a wait looks whether the command has exited while its pipes
// stay open (a grandchild may hold them), where the kernel cannot say so
// through a descriptor.
constexpr int exit_poll_ms = 10;

// Read after the command has exited, at most: what it wrote before exiting
// fits a pipe's buffer many times over, and a grandchild that keeps writing
// must not keep the caller reading.
constexpr std::size_t max_drain = 1 << 20;

class Fd {
 public:
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read, write;
};

bool open_pipe(Pipe& pipe) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  pipe.read.reset(ends[0]);
  pipe.write.reset(ends[1]);
  return fcntl(ends[0], F_SETFL, O_NONBLOCK) == 0;
}

// The first line of a stream, kept up to `limit` bytes (one byte more is
// kept to tell a line that is too long); everything after it is dropped.
// The room is reserved once, so the text is never copied into memory that
// is given back unwiped.
class FirstLine {
 public:
  explicit FirstLine(std::size_t limit) : limit_(limit) { text_.reserve(limit + 1); }
  void take(const char* bytes, std::size_t count) {
    if (complete_) return;
    const char* lf = static_cast<const char*>(std::memchr(bytes, '\n', count));
    const std::size_t length = lf != nullptr ? static_cast<std::size_t>(lf - bytes) : count;
    text_.append(bytes, std::min(length, limit_ + 1 - text_.size()));
    complete_ = lf != nullptr;
  }
  std::string& text() { return text_; }

 private:
  std::size_t limit_;
  std::string text_;
  bool complete_ = false;
};

// One stream of the command: its pipe's reading end and what it gave.
struct Stream {
  Fd& fd;
  FirstLine& line;
};

// Reads what is there without waiting, up to `budget` bytes; closes the
// pipe at its end.
void read_available(Stream& stream, std::size_t budget = max_drain) {
  char buffer[4096];
  while (stream.fd.get() >= 0 && budget > 0) {
    const ssize_t n = read(stream.fd.get(), buffer, std::min(sizeof buffer, budget));
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      stream.line.take(buffer, static_cast<std::size_t>(n));
      budget -= static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0 || errno != EAGAIN) stream.fd.reset();
    break;
  }
  explicit_bzero(buffer, sizeof buffer);
}

// Whether the command has exited; it stays a zombie, so its pid (and with
// it the group's id) cannot be taken by another process meanwhile.
bool has_exited(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// A parent may have left SIGCHLD ignored (exec keeps that), or a library
// asked for no zombies: the kernel would then reap the command itself, so
// that its end and status go unseen and its pid, the id of the group that
// is ended, may pass to another process. Children are reaped here instead.
void keep_children_for_reaping() {
  struct sigaction current {};
  if (sigaction(SIGCHLD, nullptr, &current) != 0) return;
  const bool ignored = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
  if (!ignored && (current.sa_flags & SA_NOCLDWAIT) == 0) return;
  if (ignored) current.sa_handler = SIG_DFL;
  current.sa_flags &= ~SA_NOCLDWAIT;
  sigaction(SIGCHLD, &current, nullptr);
}

pid_t spawn_shell(const std::string& command, Pipe& out, Pipe& err, int& error) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
  // Only those three: a descriptor some library opened without
  // close-on-exec (a connection, a file) is not the command's to keep.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  // A group of its own, so that it and everything it starts can be ended
  // together; signals as a fresh program expects them, whatever this
  // process ignores or blocks.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);

  char sh[] = "sh", dash_c[] = "-c";
  std::string text = command;
  char* argv[] = {sh, dash_c, text.data(), nullptr};
  pid_t pid = -1;
  error = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return error == 0 ? pid : -1;
}

std::string describe_exit(int status, const std::string& said) {
  std::string text = WIFSIGNALED(status) ? "was ended by signal " + std::to_string(WTERMSIG(status))
                                         : "exited with status " + std::to_string(WEXITSTATUS(status));
  if (!said.empty()) text += ": " + printable_ascii(said, helper_command_max_reason);
  return text;
}

// How the wait for a command ended.
enum class command_end { exited, timed_out, cancelled, wait_failed };

// The command's pid and what the kernel tells of its end.
struct Child {
  pid_t pid = -1;
  Fd exit_fd;  // polls readable once the command has exited (Linux 5.3 and later)
};

// Waits until the command exits, its time passes, the check is cancelled
// or poll itself fails (`error` then holds its errno), reading both streams
// meanwhile. Runs on the caller's thread.
command_end await_command(const Child& child, Stream (&streams)[2], check_clock::time_point deadline, int& error) {
  for (;;) {
    // Closing the notifier ends the wait as it ends those of the network.
    pollfd watched[4] = {{network_cancel_fd(), POLLIN, 0}};
    nfds_t count = 1;
    if (child.exit_fd.get() >= 0) watched[count++] = {child.exit_fd.get(), POLLIN, 0};
    for (const Stream& s : streams)
      if (s.fd.get() >= 0) watched[count++] = {s.fd.get(), POLLIN, 0};
    int bound = poll_timeout_until(deadline);
    if (child.exit_fd.get() < 0 && (bound < 0 || bound > exit_poll_ms)) bound = exit_poll_ms;
    if (poll(watched, count, bound) < 0 && errno != EINTR) {
      error = errno;
      return command_end::wait_failed;
    }
    for (Stream& s : streams) read_available(s);
    if (has_exited(child.pid)) return command_end::exited;
    if (network_waits_cancelled()) return command_end::cancelled;
    if (check_clock::now() >= deadline) return command_end::timed_out;
  }
}

// Ends the command and whatever of its group is still running, reads what
// it wrote before exiting, and reaps it; its wait status.
int end_command(const Child& child, command_end how, Stream (&streams)[2]) {
  // The command itself too: it may have moved to a group of its own, and
  // the wait below must not outlive it.
  killpg(child.pid, SIGKILL);
  kill(child.pid, SIGKILL);
  if (how == command_end::exited)
    for (Stream& s : streams) read_available(s);
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Why the command gave no secret, or empty when `line` is one. One CR before
// the line's LF is taken off (scripts and files written on Windows end their
// lines so); a CR or NUL left inside would reach the server as part of the
// secret, or cut it short, and sign in wrongly.
std::string output_failure(command_end how, int status, int error, const std::string& said, std::string& line,
                           std::size_t max_line) {
  switch (how) {
    case command_end::cancelled:
      return "was ended: the check was cancelled";
    case command_end::timed_out:
      return "gave no answer within " + duration_text(helper_command_timeout_ms) + " and was ended";
    case command_end::wait_failed:
      return std::string("could not be waited for: ") + std::strerror(error);
    case command_end::exited:
      break;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return describe_exit(status, said);
  if (line.ends_with('\r')) line.pop_back();
  if (line.size() > max_line) return "printed a first line longer than " + std::to_string(max_line) + " bytes";
  if (line.find('\r') != std::string::npos) return "printed a line with a carriage return";
  if (line.find('\0') != std::string::npos) return "printed a line with a NUL byte";
  if (line.empty()) return "printed nothing";
  return "";
}

}  // namespace

HelperOutput::~HelperOutput() { wipe_secret(line); }

HelperOutput run_helper_command(const std::string& command, std::size_t max_line) {
  HelperOutput result;
  Pipe out, err;
  if (!open_pipe(out) || !open_pipe(err)) {
    result.failure = std::string("could not be started: ") + std::strerror(errno);
    return result;
  }
  keep_children_for_reaping();
  int error = 0;
  Child child;
  child.pid = spawn_shell(command, out, err, error);
  out.write.reset();
  err.write.reset();
  if (child.pid < 0) {
    result.failure = std::string("could not be started: ") + std::strerror(error);
    return result;
  }
  child.exit_fd.reset(static_cast<int>(syscall(SYS_pidfd_open, child.pid, 0)));
  // One byte beyond the bound for the CR of a CR LF line end.
  FirstLine first_out(max_line + 1), first_err(helper_command_max_reason);
  Stream streams[] = {{out.read, first_out}, {err.read, first_err}};
  const command_end how = await_command(child, streams, deadline_after(helper_command_timeout_ms), error);
  const int status = end_command(child, how, streams);
  result.failure = output_failure(how, status, error, first_err.text(), first_out.text(), max_line);
  result.ok = result.failure.empty();
  if (result.ok) std::swap(result.line, first_out.text());
  wipe_secret(first_out.text());
  return result;
}
