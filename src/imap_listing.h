// The messages of an IMAP mailbox not yet seen, oldest first, through the
// listing path, the mailbox left as it was: EXAMINE and UID SEARCH UNSEEN
// together, then one UID FETCH of every header (BODY.PEEK). Runs on the
// thread that owns the session: a check's, or an IDLE watcher's.
#pragma once

#include <string>
#include <vector>

#include "account_check.h"
#include "imap.h"

// What follows the listing on the connection.
enum class imap_after {
  logout,    // a check's own connection: LOGOUT goes with the FETCH
  stay,      // an IDLE watcher's: the session goes on
};

// Lists the session's mailbox on a signed-in session. Reasons go to
// report_failure.
account_outcome list_unseen(IMAP& session, const std::vector<std::string>& headers, imap_after after);
