#include "imap_listing.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "check_reason.h"
#include "listing.h"
#include "platform/report.h"

namespace {

// The number after `word` and a space in `text` ("UIDVALIDITY 7"), or 0.
std::uint32_t number_after(std::string_view text, std::string_view word) {
  for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    const bool starts_word = at == 0 || text[at - 1] == ' ' || text[at - 1] == '(' || text[at - 1] == '[';
    const std::size_t digits = at + word.size() + 1;
    if (!starts_word || digits >= text.size() || text[digits - 1] != ' ') continue;
    std::uint32_t n = 0;
    const auto [end, error] = std::from_chars(text.data() + digits, text.data() + text.size(), n);
    if (error == std::errc() && n > 0) return n;
  }
  return 0;
}

// "* SEARCH 3 7 9", or "* ESEARCH (TAG "a4") UID ALL 3,7:9": the UIDs,
// once each, at most max_listed_messages of them whatever ranges a server
// names.
void add_search_results(std::string_view text, std::vector<std::uint32_t>& uids) {
  const bool extended = text.starts_with("ESEARCH ");
  if (!extended && !text.starts_with("SEARCH")) return;
  const std::size_t all = extended ? text.find(" ALL ") : 6;
  if (all == std::string_view::npos) return;
  text.remove_prefix(all + (extended ? 5 : 0));
  while (!text.empty() && uids.size() < max_listed_messages) {
    text.remove_prefix(std::min(text.find_first_not_of(extended ? "," : " "), text.size()));
    std::uint32_t n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || n == 0) return;
    std::uint32_t last = n;
    if (extended && end != text.data() + text.size() && *end == ':') {
      const auto range = std::from_chars(end + 1, text.data() + text.size(), last);
      if (range.ec != std::errc() || last == 0) return;
      end = range.ptr;
    }
    for (std::uint32_t uid = std::min(n, last); uids.size() < max_listed_messages; ++uid) {
      uids.push_back(uid);
      if (uid == std::max(n, last)) break;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  }
}

// One message's header from a "* N FETCH (UID u BODY[HEADER] {n})" answer:
// the literal after BODY[HEADER], or a quoted string (unquoted into
// `unquoted`), or nothing (NIL). A view into one of the two.
std::string_view fetched_header(const imap_response& response, std::string& unquoted) {
  const std::string_view text = response.text;
  const std::size_t at = text.find("BODY[HEADER] ");
  if (at == std::string_view::npos) return {};
  std::string_view value = text.substr(at + 13);
  if (value.starts_with('{')) {
    // The literals before it are those whose "{n}" came earlier in the line.
    std::size_t index = 0;
    for (std::size_t brace = text.find('{'); brace < at + 13; brace = text.find('{', brace + 1)) ++index;
    return index < response.literals.size() ? std::string_view(response.literals[index]) : std::string_view();
  }
  if (!value.starts_with('"')) return {};
  for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    unquoted += value[i];
  }
  return unquoted;
}

struct fetched {
  std::string text;
  int lines = 0;
  listed_message message;  // its sender and subject, for the news
};

class MailboxListing {
 public:
  MailboxListing(IMAP& session, const std::vector<std::string>& headers, imap_after after, std::uint32_t uidvalidity)
      : session_(session), headers_(headers), after_(after), uidvalidity_(uidvalidity) {}

  account_outcome list();

 private:
  // The unseen UIDs; false, the reason reported, when EXAMINE or SEARCH
  // failed. `examine` is empty where the mailbox was open already.
  bool find_unseen(const std::string& examine, const std::string& search);
  // Every header of `uids_`, into `listed_`; empty or why it stopped.
  std::string fetch_all(const std::string& fetch);
  void take(const imap_response& response);

  IMAP& session_;
  const std::vector<std::string>& headers_;
  const imap_after after_;
  std::uint32_t uidvalidity_;
  std::vector<std::uint32_t> uids_;
  std::map<std::uint32_t, fetched> listed_;
  std::size_t text_bytes_ = 0;
  std::string why_;  // why the listing stopped early
};

account_outcome MailboxListing::list() {
  account_outcome outcome;
  outcome.text = "Error";
  const std::string examine = after_ == imap_after::logout ? session_.Examine() : std::string();
  const bool kept = session_.KeepsSearchResults();
  const std::string search = kept ? session_.UidSearchUnseenKept() : session_.UidSearchUnseen();
  const std::string fetch_kept = kept ? session_.FetchKeptHeaders() : std::string();
  if (!session_.flush() || !find_unseen(examine, search)) return outcome;
  outcome.listed = true;
  if (uids_.empty()) {
    if (after_ == imap_after::logout) {
      session_.Logout();
      session_.flush();
    } else if (kept) {
      // The session goes on: the FETCH of nothing is answered first.
      imap_status status;
      session_.await(fetch_kept, status);
    }
    outcome.text = no_mail_text;
    outcome.complete = true;
    return outcome;
  }
  std::sort(uids_.begin(), uids_.end());
  uids_.erase(std::unique(uids_.begin(), uids_.end()), uids_.end());
  const std::string fetch = kept ? fetch_kept : session_.FetchHeaders(uids_);
  const std::string logout = after_ == imap_after::logout ? session_.Logout() : std::string();
  std::string why = session_.flush() ? fetch_all(fetch) : session_.reason();
  if (why.empty() && !logout.empty()) {
    imap_status status;
    session_.await(logout, status);
  }
  outcome.text.clear();
  outcome.lines = 0;
  const std::string prefix = std::to_string(uidvalidity_) + "/";
  outcome.text.reserve(text_bytes_ + listed_.size());
  outcome.messages.reserve(listed_.size());
  for (const std::uint32_t uid : uids_) {
    const auto found = listed_.find(uid);
    if (found == listed_.end()) continue;
    if (found->second.lines > 0) {
      if (outcome.lines > 0) outcome.text += "\n";
      outcome.text += found->second.text;
      outcome.lines += found->second.lines;
    }
    found->second.message.identity = prefix + std::to_string(uid);
    outcome.messages.push_back(std::move(found->second.message));
  }
  outcome.complete = why.empty();
  if (outcome.complete) return outcome;
  report_failure("listing incomplete after " + std::to_string(listed_.size()) + " of " +
                 std::to_string(uids_.size()) + " messages: " + why);
  if (outcome.lines > 0) outcome.text += "\n";
  outcome.text += incomplete_text;
  ++outcome.lines;
  return outcome;
}

bool MailboxListing::find_unseen(const std::string& examine, const std::string& search) {
  imap_status status;
  const auto note_validity = [this](const imap_response& r) {
    if (const std::uint32_t v = uidvalidity_in(r)) uidvalidity_ = v;
  };
  if (!examine.empty() && !session_.await(examine, status, note_validity))
    return report_failure(session_.reason()), false;
  if (!examine.empty() && !status.ok())
    return report_failure(session_.peer() + " cannot open the mailbox: " + quoted_server_line(status.line)), false;
  const auto note_uids = [this](const imap_response& r) { add_search_results(r.text, uids_); };
  if (!session_.await(search, status, note_uids)) return report_failure(session_.reason()), false;
  if (!status.ok())
    return report_failure(session_.peer() + " answered UID SEARCH with " + quoted_server_line(status.line)), false;
  return true;
}

std::string MailboxListing::fetch_all(const std::string& fetch) {
  imap_status status;
  const bool answered = session_.await(fetch, status, [this](const imap_response& r) { take(r); });
  if (!why_.empty()) {
    session_.GiveUp();
    return why_;
  }
  if (!answered) return session_.reason();
  if (!status.ok()) return session_.peer() + " answered UID FETCH with " + quoted_server_line(status.line);
  return {};
}

// A FETCH answer for one of the UIDs asked, listed once; anything else
// (news of other messages, flags) passed over.
void MailboxListing::take(const imap_response& response) {
  if (!why_.empty()) return;
  const std::string_view text = response.text;
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos || !text.substr(space + 1).starts_with("FETCH")) return;
  const std::uint32_t uid = number_after(text, "UID");
  if (!std::binary_search(uids_.begin(), uids_.end(), uid)) return;
  const auto [at, added] = listed_.try_emplace(uid);
  if (!added) return;
  fetched& entry = at->second;
  std::string unquoted;
  if (!list_header_block(fetched_header(response, unquoted), headers_, entry.text, entry.lines, &entry.message)) {
    why_ = "the header of UID " + std::to_string(uid) + " ran past " + std::to_string(max_header_bytes) + " bytes";
    listed_.erase(at);
    return;
  }
  text_bytes_ += entry.text.size();
  if (text_bytes_ >= max_text_bytes && listed_.size() < uids_.size())
    why_ = "the list reached " + std::to_string(max_text_bytes) + " bytes";
}

}  // namespace

account_outcome list_unseen(IMAP& session, const std::vector<std::string>& headers, imap_after after,
                            std::uint32_t uidvalidity) {
  return MailboxListing(session, headers, after, uidvalidity).list();
}

std::uint32_t uidvalidity_in(const imap_response& response) { return number_after(response.text, "UIDVALIDITY"); }
