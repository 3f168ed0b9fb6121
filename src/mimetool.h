// Header decoding: one raw header field into the UTF-8 text the notifier shows.
#pragma once

#include <string>

// Replaces each MIME encoded-word ("=?charset?B or Q?text?=") of `src` by its
// text in UTF-8 and leaves every other byte as it is, the field name included.
// `src` is a whole field, unfolded: white space between two decoded words is
// dropped, so a word split over a fold joins its neighbour. Any charset
// glibc's iconv knows is converted; a word in one it does not know, and a
// word between double quotes, stays as it stood. "Unknown encoding." and
// "Decode Error" take the place of a word that cannot be decoded. Keeps no
// state, so any thread may call it.
std::string decode_header(std::string src);
