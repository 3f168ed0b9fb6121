// Base64 decoding (RFC 2045): decode_base64 in the platform's shape.
#pragma once

#include <sys/types.h>

// Decodes the `length` bytes at `in` into `out` and returns the bytes written;
// zero means nothing could be decoded. Bytes outside the base64 alphabet
// (blanks, line breaks, stray punctuation) are skipped, the first "=" ends the
// input, and a final group without padding still yields its whole bytes.
// `out` must hold `length` bytes: the result is never longer than the input.
// With `replace_cr`, each CR LF pair in the decoded bytes becomes a single LF.
ssize_t decode_base64(char* out, const char* in, off_t length, bool replace_cr = false);
