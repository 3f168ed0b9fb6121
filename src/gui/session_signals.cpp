#include "gui/session_signals.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace gui_detail {

namespace {

constexpr int session_signals[] = {SIGTERM, SIGHUP, SIGINT};
int signal_pipe[2] = {-1, -1};

// Signal context: a write, which is async-signal-safe, and nothing else. A
// full pipe already holds a wake-up.
void on_session_signal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
  errno = saved;
}

void set_action(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : session_signals) sigaction(signal, &action, nullptr);
}

}  // namespace

SessionSignals::SessionSignals(std::function<void()> on_signal) : on_signal_(std::move(on_signal)) {
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SessionSignals::heard);
  set_action(on_session_signal);
}

SessionSignals::~SessionSignals() {
  if (notifier_ == nullptr) return;
  set_action(SIG_DFL);
  delete notifier_;
  for (int& fd : signal_pipe) {
    close(fd);
    fd = -1;
  }
}

void SessionSignals::heard() {
  char bytes[16];
  while (read(signal_pipe[0], bytes, sizeof bytes) > 0) {
  }
  on_signal_();
}

}  // namespace gui_detail
