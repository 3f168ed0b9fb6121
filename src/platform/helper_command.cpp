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
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/network_cancel.h"
#include "platform/secret.h"
#include "platform/transport.h"

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
  bool too_long() const { return text_.size() > limit_; }
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

int remaining_ms(check_clock::time_point deadline) {
  return static_cast<int>(std::min<long long>(milliseconds_until(deadline), INT_MAX));
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

// Printable text of one line: a control character (C0, DEL, or C1 as UTF-8
// writes it, which terminals obey as well) becomes "?"; other UTF-8 stays.
std::string printable(const std::string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
    const bool c1 = c == 0xc2 && next >= 0x80 && next < 0xa0;
    if (c1) ++i;
    shown += c < 0x20 || c == 0x7f || c1 ? '?' : static_cast<char>(c);
  }
  return shown;
}

std::string describe_exit(int status, const std::string& said) {
  std::string text = WIFSIGNALED(status) ? "was ended by signal " + std::to_string(WTERMSIG(status))
                                         : "exited with status " + std::to_string(WEXITSTATUS(status));
  if (!said.empty()) text += ": " + printable(said);
  return text;
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
  const pid_t pid = spawn_shell(command, out, err, error);
  out.write.reset();
  err.write.reset();
  if (pid < 0) {
    result.failure = std::string("could not be started: ") + std::strerror(error);
    return result;
  }

  // Polls readable once the command has exited (Linux 5.3 and later).
  Fd exit_fd;
  exit_fd.reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  FirstLine first_out(max_line), first_err(helper_command_max_reason);
  Stream streams[] = {{out.read, first_out}, {err.read, first_err}};
  const auto deadline = check_clock::now() + std::chrono::milliseconds(helper_command_timeout_ms);
  bool exited = false, timed_out = false, cancelled = false;
  while (!exited && !timed_out && !cancelled) {
    // Closing the notifier ends the wait as it ends those of the network.
    pollfd watched[4] = {{network_cancel_fd(), POLLIN, 0}};
    nfds_t count = 1;
    if (exit_fd.get() >= 0) watched[count++] = {exit_fd.get(), POLLIN, 0};
    for (const Stream& s : streams)
      if (s.fd.get() >= 0) watched[count++] = {s.fd.get(), POLLIN, 0};
    const int wait = exit_fd.get() >= 0 ? remaining_ms(deadline) : std::min(remaining_ms(deadline), exit_poll_ms);
    if (poll(watched, count, wait) < 0 && errno != EINTR) break;
    for (Stream& s : streams) read_available(s);
    exited = has_exited(pid);
    cancelled = !exited && network_waits_cancelled();
    timed_out = !exited && !cancelled && check_clock::now() >= deadline;
  }
  // Whatever it started and left running goes with it.
  // The command itself too: it may have moved to a group of its own, and
  // the wait below must not outlive it.
  killpg(pid, SIGKILL);
  kill(pid, SIGKILL);
  if (exited)
    for (Stream& s : streams) read_available(s);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  if (cancelled) {
    result.failure = "was ended: the check was cancelled";
  } else if (timed_out) {
    result.failure = "gave no answer within " + duration_text(helper_command_timeout_ms) + " and was ended";
  } else if (!exited || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.failure = describe_exit(status, first_err.text());
  } else if (first_out.too_long()) {
    result.failure = "printed a first line longer than " + std::to_string(max_line) + " bytes";
  } else if (first_out.text().empty()) {
    result.failure = "printed nothing";
  } else {
    result.ok = true;
  }
  if (result.ok) std::swap(result.line, first_out.text());
  wipe_secret(first_out.text());
  return result;
}
