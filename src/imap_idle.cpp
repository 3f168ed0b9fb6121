#include "imap_idle.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "credentials.h"
#include "idle_listing.h"
#include "imap.h"
#include "imap_listing.h"
#include "platform/debug_log.h"
#include "platform/mail_settings.h"
#include "platform/report.h"
#include "platform/secret.h"
#include "pop3.h"

namespace {

// An untagged answer that tells of a change to the mailbox's messages.
bool tells_change(const imap_response& response) {
  if (response.tag != "*") return false;
  const std::string_view text = response.text;
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos || space == 0 || text.find_first_not_of("0123456789") != space) return false;
  std::string word(text.substr(space + 1, text.find(' ', space + 1) - space - 1));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word == "EXISTS" || word == "EXPUNGE" || word == "RECENT" || word == "FETCH";
}

}  // namespace

IdleWatcher::IdleWatcher(int index, std::function<void()> changed, const std::atomic<int>& max_retry_ms,
                         std::function<std::vector<std::string>()> headers)
    : index_(index),
      changed_(std::move(changed)),
      headers_(std::move(headers)),
      max_retry_ms_(max_retry_ms),
      thread_([this] { run(); }) {}

IdleWatcher::~IdleWatcher() {
  stop_.raise();
  thread_.join();
}

void IdleWatcher::run() {
  int retry_ms = idle_first_retry_ms;
  bool tell = false;  // after a failure or a resume, news may have been missed
  for (;;) {
    const connection_end end = watch(tell, retry_ms);
    if (end == connection_end::stopped || stop_.raised()) break;
    if (end == connection_end::no_idle) {
      ended_ = true;
      break;
    }
    tell = true;
    if (end == connection_end::resumed) {
      changed_();
      tell = false;
      continue;
    }
    if (!stop_.sleep(retry_ms)) break;
    if (clock_.resumed()) {
      changed_();
      tell = false;
    }
    retry_ms = std::min(retry_ms * 2, std::max(max_retry_ms_.load(), idle_first_retry_ms));
  }
}

IdleWatcher::connection_end IdleWatcher::watch(bool tell_first, int& retry_ms) {
  AccountRecord record;
  const mail_pop_account& account = record.account;
  if (get_pop_account(&record.account, index_) != B_OK) return connection_end::failed;
  if (account.protocol != mail_protocol::imap) return connection_end::no_idle;
  SecretText secret;
  if (!fetch_secret(account, index_, secret)) return connection_end::failed;

  transport_limits limits = session_limits(false);
  limits.stop_fd = stop_.fd();
  IMAP session(pop3_make_transport(account.security, limits), account);
  const auto failed = [&] {
    if (stop_.raised()) return connection_end::stopped;
    debug_note("IDLE on account " + std::to_string(index_) + " ended: " + session.reason());
    return connection_end::failed;
  };
  if (session.Connect(secret.text) != imap_login::ok) return failed();
  wipe_secret(secret.text);
  if (!session.HasCapability("IDLE")) {
    debug_note(session.peer() + " does not offer IDLE: account " + std::to_string(index_) + " is polled alone");
    return connection_end::no_idle;
  }
  session.transport().keep_alive();
  imap_status status;
  const std::string examine = session.Examine();
  std::uint32_t uidvalidity = 0;
  const auto note_validity = [&uidvalidity](const imap_response& r) {
    if (const std::uint32_t v = uidvalidity_in(r)) uidvalidity = v;
  };
  if (!session.flush() || !session.await(examine, status, note_validity) || !status.ok()) return failed();

  bool changed = false;
  const auto note = [&changed](const imap_response& r) { changed = changed || tells_change(r); };
  for (;;) {
    if (!session.Idle(note)) return failed();
    retry_ms = idle_first_retry_ms;
    ++idles_;
    if (tell_first || changed) changed_();
    tell_first = changed = false;
    session.transport().set_receive_wait(idle_look_ms);
    const auto renew_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(idle_renew_ms);
    bool news = false;
    while (!news && std::chrono::steady_clock::now() < renew_at) {
      imap_response response;
      const IMAP::idle_read read = session.NextWhileIdle(response);
      if (read == IMAP::idle_read::ended) return failed();
      news = read == IMAP::idle_read::response && tells_change(response);
      if (read == IMAP::idle_read::quiet && clock_.resumed()) return connection_end::resumed;
    }
    session.transport().set_receive_wait(pop3_receive_timeout_ms);
    if (!news) {
      if (!session.Done(note)) return failed();
      continue;
    }
    // DONE goes out with the listing's first command. What a failed
    // listing reports is this thread's own: the check it leaves to report
    // is the notifier's.
    session.QueueDone();
    const std::vector<std::string> headers = headers_();
    account_outcome listing;
    {
      ReportScope own("IDLE");
      listing = list_unseen(session, headers, imap_after::stay, uidvalidity);
    }
    if (listing.complete) offer_idle_listing(index_, imap_connection_settings(account), headers, std::move(listing));
    changed_();
    if (!session.transport().is_open()) return failed();
  }
}
