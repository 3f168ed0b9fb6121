// A check of every account the accounts file includes. With one account it
// is that account's check as the notifier has always made it; with several,
// each account's part runs on a thread of its own with its own connection,
// time-outs and deadline, so that the whole check takes as long as its
// slowest account, and the notifier's text holds every part under a heading
// of its own.
#pragma once

#include <string>
#include <vector>

#include "account_check.h"

// Accounts checked at the same time (the calling thread is one of them):
// enough for every mailbox a person keeps, few enough that a long accounts
// file never opens dozens of connections at once.
inline constexpr std::size_t max_accounts_at_once = 8;

struct account_part {
  // The name its heading shows, one line; empty for the one account of a
  // check, which has no heading.
  std::string name;
  account_outcome outcome;
  // Why it failed or stopped short, with its name in front when it has
  // one; empty when it had no trouble.
  std::string reason;
};

// Runs on the notifier window's thread and returns, in the file's order,
// once every account has answered or timed out; cancel_network_waits ends
// them all at once. The check's reason (report_reason) becomes every
// account's reason, one line each.
std::vector<account_part> check_every_account(const std::vector<std::string>& headers);

// The notifier's text of a check and, in `lines`, how many lines it holds.
std::string notifier_text(const std::vector<account_part>& parts, int& lines);
