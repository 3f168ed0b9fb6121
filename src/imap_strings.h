// The forms IMAP gives to the client's own words (RFC 3501 section 4):
// strings in quotes or as literals, and mailbox names in modified UTF-7.
// Pure functions: any thread.
#pragma once

#include <string>
#include <string_view>

// Whether `text` can go in double quotes: no CR, LF, NUL or byte above 127.
bool fits_quoted(std::string_view text);
// `text` in double quotes, with "\" before every quote and backslash.
std::string imap_quoted(std::string_view text);
// A UTF-8 mailbox name as IMAP names it (RFC 3501 section 5.1.3): printable
// ASCII as it is ("&" as "&-"), every other run of characters as the
// base64 of its UTF-16 between "&" and "-". A byte that is not UTF-8 counts
// as U+FFFD.
std::string imap_mailbox_name(std::string_view utf8);
