// The IMAP side of an account's check: the messages of the mailbox not yet
// seen (imap_listing.h), on a connection of its own, or as the account's
// IDLE watcher listed them on its connection at the news that started this
// check (idle_listing.h).
//
// Over TLS a check of its own is five round trips whatever the number of
// messages: the connection, the handshake, the greeting; LOGIN, EXAMINE and
// UID SEARCH together; one UID FETCH of every header with LOGOUT behind it.
// Four where the server keeps search results (SEARCHRES): the FETCH then
// goes with the search.
#include "account_check.h"
#include "credentials.h"
#include "idle_listing.h"
#include "imap.h"
#include "imap_listing.h"
#include "platform/make_transport.h"
#include "platform/report.h"
#include "platform/secret.h"
#include "pop3.h"

account_outcome check_imap_account(int index, const std::vector<std::string>& headers) {
  account_outcome outcome;
  outcome.text = "Error";
  AccountRecord record;
  if (get_pop_account(&record.account, index) != B_OK) return outcome;
  if (auto listed = take_idle_listing(index, imap_connection_settings(record.account), headers)) return *listed;
  SecretText secret;
  if (!fetch_secret(record.account, index, secret)) return outcome;
  IMAP session(pop3_make_transport(record.account.security, session_limits(true)), record.account);
  switch (session.Connect(secret.text)) {
    case imap_login::ok:
      return list_unseen(session, headers, imap_after::logout);
    case imap_login::unknown_host:
      outcome.text = "Unknown Host";
      break;
    case imap_login::wrong_password:
      outcome.text = "Wrong Password";
      break;
    case imap_login::error:
      break;
  }
  report_failure(session.reason());
  return outcome;
}
