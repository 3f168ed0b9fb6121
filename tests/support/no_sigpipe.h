// Writes that OpenSSL makes with write(2) raise SIGPIPE on a connection the
// peer has closed, which would end the process. For its lifetime this guard
// keeps the signal from the calling thread and swallows one it caused;
// other threads and the process's disposition are untouched.
#pragma once

#include <signal.h>

#include <ctime>

class NoSigpipe {
 public:
  NoSigpipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
  }
  ~NoSigpipe() {
    if (!was_pending_) {
      sigset_t pending;
      sigpending(&pending);
      const timespec now{0, 0};
      if (sigismember(&pending, SIGPIPE) == 1) sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  NoSigpipe(const NoSigpipe&) = delete;
  NoSigpipe& operator=(const NoSigpipe&) = delete;

 private:
  sigset_t pipe_;
  sigset_t saved_;
  bool was_pending_ = false;
};
