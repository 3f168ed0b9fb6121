// Why a check failed, told to the user.
//
// The window shows only the short texts ("Error", "Unknown User", ...); the
// reason behind them goes to stderr and becomes the notifier's tooltip,
// since a notifier started from the desktop menu has nobody reading stderr.
//
// A reason goes to stderr once while it persists: a server that stays down
// all day gives one line, not one per check, and the line comes again once
// a check has gone by without it. Every function is safe from any thread;
// the check itself runs on the notifier window's thread, and with several
// accounts each account's part on a thread of its own, inside a
// ReportScope.
#pragma once

#include <string>

// A check begins: the reasons of the check before it are remembered only
// to keep stderr quiet about those that persist.
void report_begin();

// Records why the running check went wrong (one line, no "wyke: " prefix,
// never a secret). The first reason of a check is the one it keeps.
void report_failure(const std::string& reason);

// The reason kept for the running or last check; empty when it had none.
// Inside a ReportScope, the reason kept by that scope.
std::string report_reason();

// Replaces the reason kept for the check: what a check of several accounts
// tells, once every account has answered.
void report_keep(std::string reason);

// One account's part of a check, on the thread that makes it: while it
// lives, what this thread reports is told with the account's name in front
// ("work: ..."), and the first such reason is kept by the scope, not by the
// check. Scopes do not nest.
class ReportScope {
 public:
  explicit ReportScope(std::string name);
  ~ReportScope();
  ReportScope(const ReportScope&) = delete;
  ReportScope& operator=(const ReportScope&) = delete;

 private:
  friend void report_failure(const std::string& reason);
  friend std::string report_reason();
  std::string name_;
  std::string kept_;
};
