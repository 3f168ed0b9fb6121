// Listings an IDLE watcher took on its own connection when the server told
// of a change, left for the check that the news starts: that check then
// shows them without a connection of its own (a new connection, TLS and
// signing in cost more than the listing itself). A listing is taken once,
// by a check with the same fields shown and the same account settings,
// and only while fresh; any other check connects as ever.
//
// Any thread: watchers offer on theirs, checks take on theirs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "account_check.h"
#include "platform/mail_settings.h"

// Older than this, a listing is left for a check of its own: the news
// check runs at once, so only a check held back (the settings window
// open) comes later, and by then the watcher's view may have aged.
inline constexpr int idle_listing_fresh_ms = 10 * 1000;

// What an IMAP account's connection depends on, as one string. Secrets
// are left out: a new password is read at the next connection anyway.
std::string imap_connection_settings(const mail_pop_account& account);

// Leaves `outcome`, listed for account `index` (as `settings` say) with
// `headers` shown, in place of any listing left before for it.
void offer_idle_listing(int index, std::string settings, std::vector<std::string> headers, account_outcome outcome);

// The listing left for account `index`, when one is fresh and was made
// with these settings and headers; it is taken away.
std::optional<account_outcome> take_idle_listing(int index, const std::string& settings,
                                                 const std::vector<std::string>& headers);
