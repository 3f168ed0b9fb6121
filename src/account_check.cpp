#include "account_check.h"

#include "platform/mail_settings.h"

account_outcome check_account(int index, const std::vector<std::string>& headers) {
  // The record is read again by the session; only its protocol is wanted
  // here. An account that cannot be read goes the POP3 way, which says why.
  AccountRecord record;
  const bool imap = get_pop_account(&record.account, index) == B_OK && record.account.protocol == mail_protocol::imap;
  return imap ? check_imap_account(index, headers) : check_pop3_account(index, headers);
}
