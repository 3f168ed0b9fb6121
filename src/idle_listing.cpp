#include "idle_listing.h"

#include <chrono>
#include <map>
#include <mutex>

namespace {

using clock_type = std::chrono::steady_clock;

struct offered {
  std::string settings;
  std::vector<std::string> headers;
  account_outcome outcome;
  clock_type::time_point at;
};

struct Offers {
  std::mutex lock;
  std::map<int, offered> by_account;  // one per watched account at most
};

Offers& offers() {
  static Offers instance;
  return instance;
}

}  // namespace

std::string imap_connection_settings(const mail_pop_account& a) {
  std::string settings;
  for (const char* field : {a.pop_host, a.pop_name, a.pop_cafile, a.pop_fingerprint, a.mailbox})
    settings.append(field).push_back('\n');
  return settings + std::to_string(a.pop_port) + " " + std::to_string(static_cast<int>(a.security)) + " " +
         std::to_string(static_cast<int>(a.auth));
}

void offer_idle_listing(int index, std::string settings, std::vector<std::string> headers, account_outcome outcome) {
  Offers& o = offers();
  const std::lock_guard guard(o.lock);
  o.by_account[index] = {std::move(settings), std::move(headers), std::move(outcome), clock_type::now()};
}

std::optional<account_outcome> take_idle_listing(int index, const std::string& settings,
                                                 const std::vector<std::string>& headers) {
  Offers& o = offers();
  const std::lock_guard guard(o.lock);
  const auto found = o.by_account.find(index);
  if (found == o.by_account.end()) return std::nullopt;
  offered taken = std::move(found->second);
  o.by_account.erase(found);
  const bool fresh = clock_type::now() - taken.at < std::chrono::milliseconds(idle_listing_fresh_ms);
  if (!fresh || taken.settings != settings || taken.headers != headers) return std::nullopt;
  return std::move(taken.outcome);
}
