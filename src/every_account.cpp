#include "every_account.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "platform/mail_settings.h"
#include "platform/report.h"
#include "shown_field.h"

namespace {

// The line above an account's part. It begins with a box-drawing rule, which
// no header field can: a field begins with its name, printable ASCII (RFC
// 5322), and the list shows only fields whose name begins with one of the
// chosen prefixes. It reads as a divider, not as mail.
std::string heading(const std::string& name) { return "\u2500\u2500 " + name + " \u2500\u2500"; }

account_part alone(const account_outcome& outcome) {
  return {"", outcome, report_reason()};
}

// Takes the next account nobody has taken, until none is left. Runs on each
// worker thread and on the window's.
void check_share(const std::vector<checked_account>& accounts, const std::vector<std::string>& headers,
                 std::atomic<std::size_t>& next, std::vector<account_part>& parts) {
  for (std::size_t i = next++; i < parts.size(); i = next++) {
    const ReportScope scope(parts[i].name);
    parts[i].outcome = check_account(accounts[i].index, headers);
    parts[i].reason = report_reason();
  }
}

}  // namespace

std::vector<account_part> check_every_account(const std::vector<std::string>& headers) {
  std::vector<checked_account> accounts;
  const int32 count = list_checked_accounts(accounts);
  // No account at all: the first one's check says why, as it always has.
  if (count == 0 || accounts.size() == 1) return {alone(check_account(count == 0 ? 0 : accounts[0].index, headers))};
  if (accounts.empty()) {
    report_failure("no account to check: every [account] of the accounts file has check = no");
    return {alone({"Error", 1, false, {}})};
  }

  std::vector<account_part> parts(accounts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) parts[i].name = shown_field(accounts[i].name);
  std::atomic<std::size_t> next{0};
  {
    std::vector<std::jthread> workers;
    try {
      while (workers.size() + 1 < std::min(parts.size(), max_accounts_at_once))
        workers.emplace_back([&] { check_share(accounts, headers, next, parts); });
    } catch (const std::system_error&) {
      // No thread to be had: the ones there are share the accounts.
    }
    check_share(accounts, headers, next, parts);
  }

  // What the file itself told (accounts left out), then each account's own.
  std::string reasons = report_reason();
  for (const account_part& part : parts)
    if (!part.reason.empty()) reasons += (reasons.empty() ? "" : "\n") + part.reason;
  report_keep(std::move(reasons));
  return parts;
}

std::string notifier_text(const std::vector<account_part>& parts, int& lines) {
  if (parts.size() == 1) {
    lines = parts.front().outcome.lines;
    return parts.front().outcome.text;
  }
  std::string text;
  lines = 0;
  for (const account_part& part : parts) {
    if (!text.empty()) text += '\n';
    text += heading(part.name);
    ++lines;
    if (part.outcome.lines == 0) continue;
    text += '\n' + part.outcome.text;
    lines += part.outcome.lines;
  }
  return text;
}
