#include "account_check.h"

#include <cstring>

#include "platform/mail_settings.h"

account_outcome check_account(int index, const std::vector<std::string>& headers) {
  // The record is read again by the session; only its protocol is wanted
  // here. An account that cannot be read goes the POP3 way, which says why.
  mail_pop_account account{};
  const bool imap = get_pop_account(&account, index) == B_OK && account.protocol == mail_protocol::imap;
  explicit_bzero(&account, sizeof account);
  return imap ? check_imap_account(index, headers) : check_pop3_account(index, headers);
}
