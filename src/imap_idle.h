// An IDLE watcher (RFC 2177): one IMAP account's own connection, idling on
// its mailbox between checks, on a thread of its own. Its output is "this
// account changed", as soon as the server tells of a message come or gone;
// the notifier then checks as at any tick, so IDLE only ever makes news
// earlier and never replaces the periodic check. Before it tells, it lists
// the mailbox on its own connection (two round trips, where a check of its
// own takes five and a new login) and leaves the listing for that check
// (idle_listing.h), then idles again.
//
// It never goes silent for long: the IDLE is renewed before servers drop
// idle clients, the system probes the connection (TCP keep-alive), each
// tagged answer is awaited for a bounded time, and after any failure it
// connects again, 1 s later, then 2 s, doubling up to the check interval.
// After a suspend it connects anew and says the account changed. A server
// without IDLE ends the watcher: polling alone, as ever.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_signal.h"

// RFC 2177 lets a server drop a client that idled 30 minutes; NAT boxes and
// some providers forget a silent connection within 10 or 15. Renewed well
// inside all of these.
inline constexpr int idle_renew_ms = 9 * 60 * 1000;
// How long one wait while idling lasts before the watcher looks at the
// clocks: a resume from a suspend is noticed within this.
inline constexpr int idle_look_ms = 5 * 1000;
// The first wait before connecting again; it doubles up to the check interval.
inline constexpr int idle_first_retry_ms = 1000;

class IdleWatcher {
 public:
  // Starts watching account `index` at once. `changed` runs on the
  // watcher's thread; `max_retry_ms` is the longest wait before connecting
  // again (the check interval), read at each failure; `headers` gives the
  // fields the notifier shows, asked on the watcher's thread at each news.
  IdleWatcher(int index, std::function<void()> changed, const std::atomic<int>& max_retry_ms,
              std::function<std::vector<std::string>()> headers);
  // Ends the connection at once and joins the thread.
  ~IdleWatcher();
  IdleWatcher(const IdleWatcher&) = delete;
  IdleWatcher& operator=(const IdleWatcher&) = delete;

  // Whether the watcher has ended for good (the server has no IDLE, or
  // the account is no longer IMAP).
  bool ended() const { return ended_; }
  // How many times the server has said it idles: IDLE answered with "+".
  int idles() const { return idles_; }

 private:
  enum class connection_end { failed, resumed, no_idle, stopped };

  // The watcher's thread.
  void run();
  // One connection, from connect to its failure; `retry_ms` is reset once
  // it idles.
  connection_end watch(bool tell_first, int& retry_ms);

  const int index_;
  const std::function<void()> changed_;
  const std::function<std::vector<std::string>()> headers_;
  const std::atomic<int>& max_retry_ms_;
  StopSignal stop_;
  SuspendClock clock_;
  std::atomic<bool> ended_{false};
  std::atomic<int> idles_{0};
  std::thread thread_;
};
