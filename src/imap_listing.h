// The messages of an IMAP mailbox not yet seen, oldest first, through the
// listing path, the mailbox left as it was: EXAMINE and UID SEARCH UNSEEN
// together, then one UID FETCH of every header (BODY.PEEK), sent with the
// search where the server keeps its results (SEARCHRES). Runs on the
// thread that owns the session: a check's, or an IDLE watcher's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "account_check.h"
#include "imap.h"

// The session the listing runs on.
enum class imap_after {
  logout,  // a check's own connection: EXAMINE first, LOGOUT with the FETCH
  stay,    // an IDLE watcher's: the mailbox open already, the session goes on
};

// Lists the session's mailbox on a signed-in session; `uidvalidity` is the
// open mailbox's where `after` is stay. Reasons go to report_failure.
account_outcome list_unseen(IMAP& session, const std::vector<std::string>& headers, imap_after after,
                            std::uint32_t uidvalidity = 0);

// The UIDVALIDITY an untagged answer to EXAMINE carries, or 0.
std::uint32_t uidvalidity_in(const imap_response& response);
