// The mail settings: the POP accounts of the user, in the platform's shape.
//
// They live in the plain text file Mail/accounts in the settings folder,
// read afresh on every call so that an edit takes effect at the next check:
//
//   # a comment; blank lines are ignored
//   [account]
//   host = pop.example.org
//   user = alice
//   password = everything after the first "=", blanks at both ends trimmed
//   security = none | starttls | tls      (optional; none by default)
//   port = 995                            (optional; 110, or 995 for tls)
//   cafile = /path/to/extra-anchors.pem   (optional)
//   fingerprint = AB:CD:...               (optional; SHA-256, 64 hex digits)
//   password_command = secret-tool lookup ...  (instead of password)
//   auth = user | xoauth2                      (optional; user by default)
//   oauth_token_command = ...                  (prints an access token)
//   protocol = pop3 | imap                     (optional; pop3 by default)
//   mailbox = INBOX                            (optional; IMAP's folder to list)
//   name = Work                                (optional; user@host by default)
//   check = yes | no                           (optional; yes by default)
//
// The file holds passwords, so it is refused while group or others may read
// or write it. What is wrong with the file is the check's reason
// (platform/report.h): one line on stderr while it lasts, and the tooltip.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/types.h"

// Every field holds a NUL-terminated text; a value that does not fit is an
// error of get_pop_account, never cut (a cut password would log in wrongly).
inline constexpr int mail_field_size = 256;

// How the connection to the server is protected.
enum class pop_security : uint8 {
  none,      // plain text from the first byte to the last
  starttls,  // plain greeting, then STLS and TLS before the login
  tls,       // TLS from the first byte
};

// What the server speaks.
enum class mail_protocol : uint8 {
  pop3,
  imap,
};

// How the client signs in.
enum class pop_auth : uint8 {
  user,     // USER and PASS
  xoauth2,  // AUTH XOAUTH2 with an OAuth 2.0 access token
};

struct mail_pop_account {
  char pop_name[mail_field_size];      // sent with USER
  char pop_password[mail_field_size];  // sent with PASS
  bool pop_password_given;             // a password line, even an empty one
  char pop_host[mail_field_size];      // host name or dotted quad

  // --- Transport security ---
  pop_security security;
  uint16 pop_port;                        // 0: the default of `security`
  char pop_cafile[mail_field_size];       // extra trust anchors (PEM); empty: none
  char pop_fingerprint[mail_field_size];  // 64 lower-case hex digits; empty: none

  // --- Signing in ---
  pop_auth auth;
  char pop_password_command[mail_field_size];     // prints the password; empty: none
  char pop_oauth_token_command[mail_field_size];  // prints an access token; empty: none

  // --- What is listed ---
  mail_protocol protocol;
  char mailbox[mail_field_size];  // IMAP's mailbox, UTF-8; empty: INBOX
  // --- In the notifier's list ---
  char pop_account_name[mail_field_size];  // what the user calls it; empty: none given
  bool pop_skipped;                        // check = no: left out of every check
};

// An account a check includes: its index in the file and the name its part
// of the list goes under.
struct checked_account {
  int32 index;
  std::string name;  // `name`, or user@host when it has none
};

// Checks never take more accounts than this from one file: a hand-edited
// file of thousands of [account] lines would otherwise have each check read
// the whole file once for every one of them.
inline constexpr std::size_t max_checked_accounts = 32;

// The number of accounts in the file; 0 when it is missing, unreadable or
// readable by others.
int32 count_pop_accounts();

// Fills `account` with the account at `index` (0 is the first). Returns B_OK,
// or a negative error: B_BAD_INDEX, B_NAME_TOO_LONG (a value of 256 bytes or
// more), B_BAD_VALUE (a NUL byte in a value, or a security, port, fingerprint,
// auth, protocol or check that means nothing), B_NOT_ALLOWED (the file's mode),
// B_ENTRY_NOT_FOUND or another errno for a file that cannot be read. On error
// the record is left cleared.
status_t get_pop_account(mail_pop_account* account, int32 index = 0);

// An account record that holds a password: cleared however its user ends.
struct AccountRecord {
  mail_pop_account account{};
  AccountRecord() = default;
  AccountRecord(const AccountRecord&) = delete;
  AccountRecord& operator=(const AccountRecord&) = delete;
  ~AccountRecord() { explicit_bzero(&account, sizeof account); }
};

// The accounts a check includes, in the file's order: every one but those
// with check = no, the first max_checked_accounts of them (the rest are left
// out with a reason). A bad value of any other key still includes the
// account: its own check then fails with the reason. Returns the number of
// accounts in the file, as count_pop_accounts does.
int32 list_checked_accounts(std::vector<checked_account>& checked);
