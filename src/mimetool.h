// Header decoding: one raw header line into the UTF-8 text the notifier shows.
#pragma once

#include <string>

// Replaces each MIME encoded-word ("=?charset?B or Q?text?=") of `src` by its
// text in UTF-8 and leaves every other byte as it is, the field name included.
// Words between double quotes stay encoded; a word in a charset it does not
// know is removed; "Unknown encoding." and "Decode Error" take the place of a
// word that cannot be decoded. Keeps no state, so any thread may call it.
std::string decode_header(std::string src);
