// Host lookup that a cancel or the check's deadline can end. getaddrinfo
// cannot be interrupted, and a resolver that hangs would hold the closing
// notifier for its own time-outs: the lookup runs on a thread of its own,
// which is left to finish alone (and free what it found) once nobody waits.
#pragma once

#include <netdb.h>

#include <memory>
#include <string>

#include "platform/check_clock.h"

// How long a waiter sleeps between looks at the network cancel.
inline constexpr int host_lookup_poll_ms = 50;

struct addrinfo_deleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using addrinfo_list = std::unique_ptr<addrinfo, addrinfo_deleter>;

struct host_lookup {
  enum class ending { answered, cancelled, deadline } how = ending::answered;
  int code = 0;          // getaddrinfo's result when answered
  addrinfo_list found;   // the addresses when `code` is 0
};

// getaddrinfo(host, service, hints) on the calling thread's behalf, given
// up on at the network cancel or at `deadline`.
host_lookup lookup_host(const std::string& host, const std::string& service, const addrinfo& hints,
                        check_clock::time_point deadline);
