#include "imap.h"

#include <algorithm>

#include "check_reason.h"
#include "imap_strings.h"
#include "platform/ascii.h"
#include "platform/report.h"
#include "platform/secret.h"
#include "xoauth2.h"

namespace {

// The first word of `text`, upper case.
std::string first_word(std::string_view text) {
  std::string word(text.substr(0, text.find(' ')));
  to_ascii_upper(word);
  return word;
}

// The words of a capability list, upper case, into `into`.
void add_words(std::string_view list, std::set<std::string>& into) {
  while (!list.empty()) {
    const std::size_t end = std::min(list.find(' '), list.size());
    if (end > 0) into.insert(first_word(list.substr(0, end)));
    list.remove_prefix(std::min(end + 1, list.size()));
  }
}

// "a1 NO [AUTHENTICATIONFAILED] ..." quoted for a reason.
std::string answer_of(const imap_status& status) { return quoted_server_line(status.line); }

std::string uid_set(const std::vector<std::uint32_t>& uids) {
  std::string set;
  for (std::size_t i = 0; i < uids.size();) {
    std::size_t j = i;
    while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
    if (!set.empty()) set += ',';
    set += std::to_string(uids[i]);
    if (j > i) set += ':' + std::to_string(uids[j]);
    i = j + 1;
  }
  return set;
}

}  // namespace

std::string imap_mailbox_of(const mail_pop_account& account) {
  return account.mailbox[0] == '\0' ? "INBOX" : imap_mailbox_name(account.mailbox);
}

IMAP::IMAP(std::unique_ptr<Transport> transport, const mail_pop_account& account)
    : transport_(std::move(transport)), reader_(*transport_), account_(account), peer_(account.pop_host) {}

IMAP::~IMAP() { wipe_secret(outgoing_); }

// --- Signing in --------------------------------------------------------------------

imap_login IMAP::Connect(const std::string& secret) {
  const uint16 port =
      account_.pop_port != 0 ? account_.pop_port : account_.security == pop_security::tls ? imaps_port : imap_port;
  if (!transport_->connect(account_.pop_host, port)) {
    reason_ = transport_->reason();
    return transport_->error() == transport_error::unknown_host ? imap_login::unknown_host : imap_login::error;
  }
  if (account_.security == pop_security::tls && !StartTLS()) return imap_login::error;
  if (!Greeting()) return imap_login::error;
  if (account_.security == pop_security::starttls) {
    if (preauthenticated_)
      return fail(peer_ + " signed the connection in before it could be secured; it cannot be trusted"),
             imap_login::error;
    if (!capabilities_known_ && !Capabilities()) return imap_login::error;
    if (!HasCapability("STARTTLS"))
      return fail(peer_ + " does not offer STARTTLS, so the connection cannot be secured; try security = tls "
                          "(port 993)"),
             imap_login::error;
    imap_status status;
    const std::string tag = queue("STARTTLS");
    if (!flush() || !await(tag, status)) return imap_login::error;
    if (!status.ok()) return fail(peer_ + " refused STARTTLS: " + answer_of(status)), imap_login::error;
    if (!StartTLS() || !Capabilities()) return imap_login::error;
  }
  if (preauthenticated_) return imap_login::ok;
  if (!capabilities_known_ && !Capabilities()) return imap_login::error;
  return account_.auth == pop_auth::xoauth2 ? Xoauth2(secret) : Login(secret);
}

bool IMAP::Greeting() {
  imap_response greeting;
  if (next(greeting) != imap_read::response) return false;
  const std::string word = first_word(greeting.text);
  if (greeting.tag != "*" || (word != "OK" && word != "PREAUTH"))
    return fail(peer_ + " greeted with " + quoted_server_line(greeting.tag + " " + greeting.text));
  preauthenticated_ = word == "PREAUTH";
  return true;
}

bool IMAP::Capabilities() {
  imap_status status;
  const std::string tag = queue("CAPABILITY");
  if (!flush() || !await(tag, status)) return false;
  if (!status.ok()) return fail(peer_ + " refused CAPABILITY: " + answer_of(status));
  capabilities_known_ = true;
  return true;
}

bool IMAP::StartTLS() {
  // What came before the handshake is not the server's word: a STARTTLS
  // answer may have had an attacker's lines glued to it. What it said it
  // could do is asked again.
  reader_.discard_buffered();
  capabilities_.clear();
  capabilities_known_ = false;
  if (transport_->start_tls({account_.pop_host, account_.pop_cafile, account_.pop_fingerprint})) return true;
  reason_ = transport_->reason();
  GiveUp();
  return false;
}

imap_login IMAP::Login(const std::string& secret) {
  if (HasCapability("LOGINDISABLED"))
    return fail(peer_ + " refuses LOGIN on this connection (LOGINDISABLED); set security = starttls or tls for "
                        "the account"),
           imap_login::error;
  const std::string tag = queue_login(account_.pop_name, secret);
  imap_status status;
  if (tag.empty() || !flush() || !await(tag, status)) return imap_login::error;
  if (status.ok()) return imap_login::ok;
  if (status.word == "NO") return fail(peer_ + " refused the login: " + answer_of(status)), imap_login::wrong_password;
  return fail(peer_ + " answered LOGIN with " + answer_of(status)), imap_login::error;
}

// The user and password as quoted strings, or as literals where a quoted
// string cannot hold them: non-synchronizing ones when the server takes
// them (LITERAL+), otherwise each waits for the server's "+".
std::string IMAP::queue_login(const std::string& user, const std::string& secret) {
  const std::string tag = new_tag();
  debug_sent(tag + " LOGIN ***");
  const bool plus = HasCapability("LITERAL+");
  outgoing_ += tag + " LOGIN";
  for (const std::string* argument : {&user, &secret}) {
    outgoing_ += ' ';
    if (fits_quoted(*argument)) {
      outgoing_ += imap_quoted(*argument);
      continue;
    }
    // Appended piece by piece (as new_tag does) for GCC 12's sake.
    (outgoing_ += '{') += std::to_string(argument->size());
    outgoing_ += plus ? "+}\r\n" : "}\r\n";
    if (!plus) {
      imap_response response;
      if (!flush()) return {};
      while (next(response) == imap_read::response && response.tag != "+")
        if (response.tag == tag)
          return fail(peer_ + " refused the login: " + quoted_server_line(response.tag + " " + response.text)), "";
      if (response.tag != "+") return {};
    }
    outgoing_ += *argument;
  }
  outgoing_ += "\r\n";
  return tag;
}

imap_login IMAP::Xoauth2(const std::string& secret) {
  SecretText response;
  response.text = xoauth2_response(account_.pop_name, secret);
  const bool initial = HasCapability("SASL-IR");
  const std::string tag =
      initial ? queue("AUTHENTICATE XOAUTH2 " + response.text, "AUTHENTICATE XOAUTH2 ***") : queue("AUTHENTICATE XOAUTH2");
  if (!flush()) return imap_login::error;
  bool answered = initial;
  imap_status status;
  // Each "+" is answered: with the token when it was not sent at once,
  // and with an empty line when it is a refusal's JSON, after which the
  // tagged NO follows.
  for (;;) {
    imap_response line;
    if (next(line) != imap_read::response) return imap_login::error;
    if (line.tag == "+") {
      outgoing_ += answered ? "\r\n" : response.text + "\r\n";
      debug_sent(answered ? "" : "***", secret_in::none);
      answered = true;
      if (!flush()) return imap_login::error;
      continue;
    }
    if (line.tag != tag) continue;
    status = {true, first_word(line.text), line.tag + " " + line.text};
    break;
  }
  if (status.ok()) return imap_login::ok;
  if (status.word == "NO")
    return fail(peer_ + " refused the access token: " + answer_of(status)), imap_login::wrong_password;
  return fail(peer_ + " answered AUTHENTICATE XOAUTH2 with " + answer_of(status)), imap_login::error;
}

// --- Commands ----------------------------------------------------------------------

std::string IMAP::new_tag() {
  // Appended, not "a" + ...: GCC 12 at -O3 takes the latter for an
  // overlapping copy (-Wrestrict) and the Release build stops.
  std::string tag = "a";
  tag += std::to_string(next_tag_++);
  return tag;
}

std::string IMAP::queue(const std::string& command, const std::string& shown) {
  const std::string tag = new_tag();
  debug_sent(tag + " " + (shown.empty() ? command : shown));
  outgoing_ += tag + " " + command + "\r\n";
  return tag;
}

std::string IMAP::Examine() { return queue("EXAMINE " + imap_quoted(imap_mailbox_of(account_))); }

std::string IMAP::UidSearchUnseen() { return queue("UID SEARCH UNSEEN"); }

std::string IMAP::FetchHeaders(const std::vector<std::uint32_t>& uids) {
  return queue("UID FETCH " + uid_set(uids) + " (UID BODY.PEEK[HEADER])");
}

std::string IMAP::UidSearchUnseenKept() { return queue("UID SEARCH RETURN (SAVE ALL) UNSEEN"); }

std::string IMAP::FetchKeptHeaders() { return queue("UID FETCH $ (UID BODY.PEEK[HEADER])"); }

std::string IMAP::Logout() { return queue("LOGOUT"); }

bool IMAP::flush() {
  if (outgoing_.empty()) return true;
  const bool sent = transport_->is_open() && transport_->send_all(outgoing_);
  wipe_secret(outgoing_);
  outgoing_.clear();
  if (!sent) reason_ = transport_->reason();
  return sent;
}

bool IMAP::await(const std::string& tag, imap_status& status, const untagged_handler& untagged) {
  status = {};
  imap_response response;
  while (next(response) == imap_read::response) {
    if (response.tag == tag) {
      status = {true, first_word(response.text), response.tag + " " + response.text};
      return true;
    }
    if (response.tag == "*" && untagged) untagged(response);
  }
  return false;
}

imap_read IMAP::next(imap_response& response) {
  if (bye_) return imap_read::ended;  // the reason is what the BYE said
  const imap_read how = reader_.read(response);
  if (how == imap_read::response) {
    note_capabilities(response);
    if (response.tag == "*" && first_word(response.text) == "BYE") {
      // The server closes after it; what it said is the reason.
      bye_ = true;
      reason_ = peer_ + " ended the session: " + quoted_server_line(response.text);
    }
    return how;
  }
  if (how == imap_read::ended) {
    reason_ = transport_->reason().empty() ? peer_ + " closed the connection" : transport_->reason();
    // A wait that only timed out leaves the connection as it was: an
    // idling caller renews it, any other ends the session itself.
    if (transport_->error() != transport_error::timed_out || reader_.midway()) GiveUp();
  } else {
    reason_ = peer_ + " sent " + reader_.reason();
    GiveUp();
  }
  return how;
}

void IMAP::note_capabilities(const imap_response& response) {
  std::string_view text = response.text;
  if (response.tag == "*" && first_word(text) == "CAPABILITY") {
    capabilities_.clear();
    add_words(text.substr(std::min(text.size(), std::string_view("CAPABILITY ").size())), capabilities_);
    capabilities_known_ = true;
    return;
  }
  // "OK [CAPABILITY IMAP4rev1 ...] text", in a greeting or a tagged OK.
  const std::size_t code = text.find("[CAPABILITY ");
  if (code == std::string_view::npos || code > text.find(' ') + 1) return;
  const std::size_t end = text.find(']', code);
  if (end == std::string_view::npos) return;
  capabilities_.clear();
  add_words(text.substr(code + 12, end - code - 12), capabilities_);
  capabilities_known_ = true;
}

// --- IDLE --------------------------------------------------------------------------

bool IMAP::Idle(const untagged_handler& untagged) {
  idle_tag_ = queue("IDLE");
  if (!flush()) return false;
  imap_response response;
  while (next(response) == imap_read::response) {
    if (response.tag == "+") return true;
    if (response.tag == idle_tag_)
      return fail(peer_ + " refused IDLE: " + quoted_server_line(response.tag + " " + response.text));
    if (response.tag == "*") untagged(response);
  }
  return false;
}

IMAP::idle_read IMAP::NextWhileIdle(imap_response& response) {
  if (next(response) == imap_read::response) return idle_read::response;
  // Nothing but the wait's own end: the connection is as it was.
  const bool quiet = !bye_ && transport_->is_open() && transport_->error() == transport_error::timed_out;
  return quiet ? idle_read::quiet : idle_read::ended;
}

void IMAP::QueueDone() {
  debug_sent("DONE");
  outgoing_ += "DONE\r\n";
}

bool IMAP::Done(const untagged_handler& untagged) {
  QueueDone();
  imap_status status;
  if (!flush() || !await(idle_tag_, status, untagged)) return false;
  return status.ok() || fail(peer_ + " ended IDLE with " + answer_of(status));
}

// --- Ending ------------------------------------------------------------------------

void IMAP::GiveUp() {
  transport_->close();
  reader_.discard_buffered();
}

bool IMAP::fail(const std::string& reason) {
  // A failure of the connection itself says more than what it cut short.
  const bool broken = transport_->error() != transport_error::none && transport_->error() != transport_error::timed_out;
  reason_ = broken ? transport_->reason() : reason;
  return false;
}
