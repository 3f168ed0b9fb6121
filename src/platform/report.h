// Why a check failed, told to the user.
//
// The window shows only the short texts ("Error", "Unknown User", ...); the
// reason behind them goes to stderr and becomes the notifier's tooltip,
// since a notifier started from the desktop menu has nobody reading stderr.
//
// A reason goes to stderr once while it persists: a server that stays down
// all day gives one line, not one per check, and the line comes again once
// a check has gone by without it. Every function is safe from any thread;
// the check itself runs on the notifier window's thread.
#pragma once

#include <string>

// A check begins: the reasons of the check before it are remembered only
// to keep stderr quiet about those that persist.
void report_begin();

// Records why the running check went wrong (one line, no "wyke: " prefix,
// never a secret). The first reason of a check is the one it keeps.
void report_failure(const std::string& reason);

// The reason kept for the running or last check; empty when it had none.
std::string report_reason();
