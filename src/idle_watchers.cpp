#include "idle_watchers.h"

#include "idle_listing.h"
#include "platform/mail_settings.h"

namespace {

// What an account's IDLE connection depends on; empty for an account that
// is not IMAP or cannot be read.
std::string connection_settings(int index) {
  AccountRecord record;
  const bool imap = get_pop_account(&record.account, index) == B_OK && record.account.protocol == mail_protocol::imap;
  return imap ? imap_connection_settings(record.account) : std::string();
}

}  // namespace

void IdleWatchers::update(const std::vector<int>& indexes, int interval_s, const std::vector<std::string>& headers) {
  {
    const std::lock_guard guard(headers_lock_);
    headers_ = headers;
  }
  max_retry_ms_ = interval_s > 0 && interval_s < 2000000 ? interval_s * 1000 : idle_first_retry_ms;
  std::map<int, entry> kept;
  for (const int index : indexes) {
    std::string settings = connection_settings(index);
    if (settings.empty()) continue;
    auto found = watchers_.find(index);
    if (found != watchers_.end() && found->second.settings == settings) {
      kept.emplace(index, std::move(found->second));
      continue;
    }
    if (found != watchers_.end()) found->second.watcher.reset();
    kept.emplace(index, entry{std::move(settings), std::make_unique<IdleWatcher>(index, changed_, max_retry_ms_, [this] {
      const std::lock_guard guard(headers_lock_);
      return headers_;
    })});
  }
  // Those left behind end here, their threads joined.
  watchers_.swap(kept);
}

void IdleWatchers::stop_all() { watchers_.clear(); }

int IdleWatchers::idling() const {
  int n = 0;
  for (const auto& [index, entry] : watchers_) n += entry.watcher->idles() > 0;
  return n;
}
