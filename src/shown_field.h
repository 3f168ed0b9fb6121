// What the notifier shows of one decoded header field.
#pragma once

#include <string>

// `field` as one line that cannot lie about its text: CR, LF, TAB and the
// Unicode line and paragraph separators become a space each, and the
// invisible format characters are removed: the bidirectional marks,
// embeddings, overrides and isolates (U+061C, U+200E/F, U+202A-U+202E,
// U+2066-U+2069), which can show "moc.live@ecnalab" as "balance@evil.com",
// and the zero-width ones that hide inside a name (U+00AD, U+180E, U+200B,
// U+2060-U+2064, U+206A-U+206F, U+FEFF, U+FFF9-U+FFFB, the tags U+E0000-
// U+E007F). The joiners U+200C and U+200D stay: Persian, the Indic scripts
// and emoji need them, and they move nothing. Each byte that is not part of
// well-formed UTF-8 becomes U+FFFD, as the view would show it anyway: left
// raw, the bytes on either side of a removed character could join into one
// that should have been removed.
std::string shown_field(std::string field);
