// Base64 (RFC 4648): decode_base64 in the platform's shape, and the encoder
// that SASL sign-ins need.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Decodes the `length` bytes at `in` into `out` and returns the bytes written;
// zero means nothing could be decoded. Bytes outside the base64 alphabet
// (blanks, line breaks, stray punctuation) are skipped, the first "=" ends the
// input, and a final group without padding still yields its whole bytes.
// `out` must hold `length` bytes: the result is never longer than the input.
// With `replace_cr`, each CR LF pair in the decoded bytes becomes a single LF.
ssize_t decode_base64(char* out, const char* in, off_t length, bool replace_cr = false);

// `bytes` in base64 with padding and no line breaks. The room is reserved
// once, so a secret encoded leaves no copy in memory given back; the caller
// wipes the result.
std::string encode_base64(std::string_view bytes);
