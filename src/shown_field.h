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
// and emoji need them, and they move nothing. Bytes that are not UTF-8 are
// left as they are.
std::string shown_field(const std::string& field);
