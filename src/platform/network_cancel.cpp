#include "platform/network_cancel.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<bool> cancelled{false};

// A pipe that holds one byte while cancelled. Made on first use and kept
// for the process's life.
struct CancelPipe {
  int ends[2] = {-1, -1};
  CancelPipe() {
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
      std::perror("wyke: pipe");
      std::abort();
    }
  }
};

CancelPipe& cancel_pipe() {
  static CancelPipe pipe;
  return pipe;
}

}  // namespace

void cancel_network_waits() {
  if (cancelled.exchange(true)) return;
  const char byte = 1;
  while (write(cancel_pipe().ends[1], &byte, 1) < 0 && errno == EINTR) {
  }
}

void reset_network_cancel() {
  if (!cancelled.exchange(false)) return;
  char byte;
  for (;;) {
    const ssize_t n = read(cancel_pipe().ends[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
  }
}

bool network_waits_cancelled() { return cancelled; }

int network_cancel_fd() { return cancel_pipe().ends[0]; }
