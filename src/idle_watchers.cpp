#include "idle_watchers.h"

#include "platform/mail_settings.h"

namespace {

// What an account's IDLE connection depends on, as one string; empty for
// an account that is not IMAP or cannot be read. Secrets are left out: a
// new password is read at the next connection anyway.
std::string connection_settings(int index) {
  AccountRecord record;
  const mail_pop_account& a = record.account;
  std::string settings;
  if (get_pop_account(&record.account, index) == B_OK && a.protocol == mail_protocol::imap) {
    for (const char* field : {a.pop_host, a.pop_name, a.pop_cafile, a.pop_fingerprint, a.mailbox})
      settings.append(field).push_back('\n');
    settings += std::to_string(a.pop_port) + " " + std::to_string(static_cast<int>(a.security)) + " " +
                std::to_string(static_cast<int>(a.auth));
  }
  return settings;
}

}  // namespace

void IdleWatchers::update(const std::vector<int>& indexes, int interval_s) {
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
    kept.emplace(index, entry{std::move(settings), std::make_unique<IdleWatcher>(index, changed_, max_retry_ms_)});
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
