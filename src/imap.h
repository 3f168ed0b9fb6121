// One IMAP session over a transport (platform/transport.h), read-only by
// construction: the mailbox is opened with EXAMINE, headers are fetched
// with BODY.PEEK, and no command that changes a mailbox (STORE, EXPUNGE,
// COPY, SELECT) exists in this class.
//
// Connect reads the greeting and the capabilities, secures the connection
// as the account says (STARTTLS only when offered, never a fall-back to
// plain text, and the capabilities asked again over TLS), and signs in
// with LOGIN or AUTHENTICATE XOAUTH2. Commands are queued and go out
// together at flush(), so that a check waits for a handful of round trips
// whatever the size of the mailbox.
//
// Used from the one thread that made it: the notifier window's during a
// check, an IDLE watcher's own thread for its connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "imap_reader.h"
#include "platform/debug_log.h"
#include "platform/mail_settings.h"
#include "platform/transport.h"
#include "platform/types.h"

inline constexpr uint16 imap_port = 143;
inline constexpr uint16 imaps_port = 993;  // TLS from the first byte (RFC 8314)

// How signing in ended.
enum class imap_login {
  ok,
  unknown_host,
  wrong_password,  // LOGIN or AUTHENTICATE answered NO
  error,           // anything else; the reason is reported
};

// The tagged end of one command.
struct imap_status {
  bool answered = false;  // its tagged line came
  std::string word;       // "OK", "NO" or "BAD", upper case
  std::string line;       // the whole tagged line, for reasons
  bool ok() const { return answered && word == "OK"; }
};

class IMAP {
 public:
  IMAP(std::unique_ptr<Transport> transport, const mail_pop_account& account);
  ~IMAP();
  IMAP(const IMAP&) = delete;
  IMAP& operator=(const IMAP&) = delete;

  // Connects, secures and signs in with `secret`.
  imap_login Connect(const std::string& secret);

  // --- Commands: queued, sent at flush(), their ends read with await() ---

  // "EXAMINE mailbox"; its tag.
  std::string Examine();
  std::string UidSearchUnseen();
  // "UID FETCH set (UID BODY.PEEK[HEADER])" for `uids`.
  std::string FetchHeaders(const std::vector<std::uint32_t>& uids);
  // Where the server has SEARCHRES (RFC 5182) and ESEARCH (RFC 4731): the
  // search keeps what it found as "$" and answers ESEARCH ... ALL, and the
  // FETCH of "$" can go with it, a round trip sooner.
  bool KeepsSearchResults() const { return HasCapability("SEARCHRES") && HasCapability("ESEARCH"); }
  std::string UidSearchUnseenKept();
  std::string FetchKeptHeaders();
  std::string Logout();
  // Sends what is queued, in one write; false when it could not go.
  bool flush();

  // Reads until the tagged end of `tag`, handing every untagged response
  // on the way to `untagged` (none: they are passed over). False when the
  // connection ended first, or said BYE; reason() tells why.
  using untagged_handler = std::function<void(const imap_response&)>;
  bool await(const std::string& tag, imap_status& status, const untagged_handler& untagged = {});

  // --- IDLE (RFC 2177) ---

  bool HasCapability(const std::string& name) const { return capabilities_.count(name) > 0; }
  // Sends IDLE and waits for the server's "+"; true once it idles.
  bool Idle(const untagged_handler& untagged);
  // One response while idling, within the transport's receive wait.
  enum class idle_read { response, quiet, ended };
  idle_read NextWhileIdle(imap_response& response);
  // Ends the IDLE: "DONE" and its tagged end.
  bool Done(const untagged_handler& untagged);
  // Queues "DONE" alone, for commands to follow it in the same write; the
  // IDLE's tagged end is then passed over by the next await().
  void QueueDone();

  // --- State ---

  Transport& transport() { return *transport_; }
  // Why the session failed, for the user; reported by the caller.
  const std::string& reason() const { return reason_; }
  // The host, as the user wrote it.
  const std::string& peer() const { return peer_; }
  // Ends the exchange: closed, nothing more sent or read.
  void GiveUp();

 private:
  bool Greeting();
  bool Capabilities();
  bool StartTLS();
  imap_login Login(const std::string& secret);
  imap_login Xoauth2(const std::string& secret);
  // "a1", "a2", ...: the tag of the next command.
  std::string new_tag();
  // Queues `command` under a new tag; its tag. --debug shows `shown`
  // instead when it is given: the command with its secret as "***".
  std::string queue(const std::string& command, const std::string& shown = {});
  // Queues LOGIN; an argument that must go as a synchronizing literal
  // makes what is queued go out at once, waiting for each "+". Its tag, or
  // "" when the server did not let the arguments through.
  std::string queue_login(const std::string& user, const std::string& secret);
  // Reads one response, noting capabilities it carries; BYE ends the session.
  imap_read next(imap_response& response);
  void note_capabilities(const imap_response& response);
  bool fail(const std::string& reason);

  std::unique_ptr<Transport> transport_;
  ImapReader reader_;
  const mail_pop_account& account_;
  std::string peer_;
  std::set<std::string> capabilities_;
  bool capabilities_known_ = false;
  bool preauthenticated_ = false;
  bool bye_ = false;
  unsigned next_tag_ = 1;
  std::string outgoing_;
  std::string idle_tag_;
  std::string reason_;
};

// The mailbox the account names, as IMAP names it ("INBOX" when none).
std::string imap_mailbox_of(const mail_pop_account& account);
