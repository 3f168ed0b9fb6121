#include "platform/host_lookup.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/network_cancel.h"

namespace {

// What the lookup thread and its waiter share; whichever of them lets go
// last frees it, and the list with it when the waiter gave up.
struct Pending {
  std::mutex lock;
  std::condition_variable answered;
  bool done = false;
  int code = 0;
  addrinfo_list found;
};

}  // namespace

host_lookup lookup_host(const std::string& host, const std::string& service, const addrinfo& hints,
                        check_clock::time_point deadline) {
  auto pending = std::make_shared<Pending>();
  std::thread([pending, host, service, hints] {
    addrinfo* found = nullptr;
    const int code = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    const std::lock_guard guard(pending->lock);
    pending->code = code;
    pending->found.reset(code == 0 ? found : nullptr);
    pending->done = true;
    pending->answered.notify_all();
  }).detach();

  host_lookup result;
  std::unique_lock guard(pending->lock);
  for (;;) {
    const auto slice = check_clock::now() + std::chrono::milliseconds(host_lookup_poll_ms);
    if (pending->answered.wait_until(guard, std::min(slice, deadline), [&] { return pending->done; })) break;
    if (network_waits_cancelled()) {
      result.how = host_lookup::ending::cancelled;
      return result;
    }
    if (check_clock::now() >= deadline) {
      result.how = host_lookup::ending::deadline;
      return result;
    }
  }
  result.code = pending->code;
  result.found = std::move(pending->found);
  return result;
}
