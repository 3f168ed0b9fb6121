// One account's part of a check: a session with its server, its listing or
// its failure text. The notifier's check is made of these; each protocol
// gives one. Runs on whichever thread calls it, blocking until the session
// has ended; it touches no window and no setting.
#pragma once

#include <string>
#include <vector>

// A message as a check saw it: what it is known by from one check to the
// next, and its sender and subject as the window shows them (decoded, safe
// to show; empty when it has no such field).
struct listed_message {
  // POP3: its Message-ID field, or a digest of its header where it has
  // none; IMAP: the mailbox's UIDVALIDITY and the message's UID.
  std::string identity;
  std::string from;
  std::string subject;
};

struct account_outcome {
  std::string text;  // the account's notifier lines, joined by "\n"
  int lines = 1;     // how many lines `text` holds
  // The account answered with its messages (or with none): the listing
  // stands, even when it ended in incomplete_text. False for every failure
  // text ("Unknown Host", "Unknown User", "Wrong Password", "Error").
  bool listed = false;
  // Every message listed, in the order shown.
  std::vector<listed_message> messages;
  // The listing holds every message the server counted: none was left out
  // by a cut, a bound or a failed command.
  bool complete = false;
};

// Checks the account at `index` of the accounts file, keeping the header
// lines that begin with one of `headers`. Reasons go to report_failure.
account_outcome check_account(int index, const std::vector<std::string>& headers);

// The POP3 session of check_account.
account_outcome check_pop3_account(int index, const std::vector<std::string>& headers);
// The IMAP session of check_account: the mailbox's messages not yet seen.
account_outcome check_imap_account(int index, const std::vector<std::string>& headers);
