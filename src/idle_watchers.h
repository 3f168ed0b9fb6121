// The IDLE watchers of the accounts a check covers, kept in one place: at
// each check the notifier hands over the accounts it checks, and every
// IMAP account among them gets a watcher (imap_idle.h), started anew when
// its connection settings change and ended when it is gone or no longer
// IMAP. Their news arrives through one callback.
//
// Called from the notifier window's thread; the callback runs on the
// watchers' threads.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imap_idle.h"

class IdleWatchers {
 public:
  explicit IdleWatchers(std::function<void()> changed) : changed_(std::move(changed)) {}
  ~IdleWatchers() { stop_all(); }
  IdleWatchers(const IdleWatchers&) = delete;
  IdleWatchers& operator=(const IdleWatchers&) = delete;

  // Watches the IMAP accounts among `indexes` of the accounts file, as it
  // reads now; `interval_s` is the check interval, the longest wait
  // before a watcher connects again; `headers` the fields the notifier
  // shows, which a watcher lists at the server's news (idle_listing.h).
  void update(const std::vector<int>& indexes, int interval_s, const std::vector<std::string>& headers);
  // Ends every watcher's connection at once, and their threads.
  void stop_all();
  // How many of them idle on their mailbox now or did once.
  int idling() const;

 private:
  struct entry {
    std::string settings;  // what its connection was made with
    std::unique_ptr<IdleWatcher> watcher;
  };
  std::function<void()> changed_;
  std::atomic<int> max_retry_ms_{0};
  mutable std::mutex headers_lock_;  // the watchers read headers_ on their threads
  std::vector<std::string> headers_;
  std::map<int, entry> watchers_;
};
