// Charset conversion into UTF-8: convert_to_utf8 in the platform's shape,
// done by glibc's iconv.
#pragma once

#include <cstddef>
#include <string>

#include "platform/types.h"

// --- Conversion constants ------------------------------------------------------
// The platform's numbers for the charsets this system converts.

inline constexpr uint32 B_ISO1_CONVERSION = 0;  // ISO 8859-1
inline constexpr uint32 B_ISO2_CONVERSION = 1;
inline constexpr uint32 B_ISO3_CONVERSION = 2;
inline constexpr uint32 B_ISO4_CONVERSION = 3;
inline constexpr uint32 B_ISO5_CONVERSION = 4;
inline constexpr uint32 B_ISO6_CONVERSION = 5;
inline constexpr uint32 B_ISO7_CONVERSION = 6;
inline constexpr uint32 B_ISO8_CONVERSION = 7;
inline constexpr uint32 B_ISO9_CONVERSION = 8;  // ISO 8859-9
inline constexpr uint32 B_JIS_CONVERSION = 13;  // ISO-2022-JP

// Our own, for text that is UTF-8 already and is only checked. The platform
// never had such a constant; this one lies far above its range.
inline constexpr uint32 WYKE_UTF8_CONVERSION = 0x10000;

// Our own too: the first of the constants that iconv_conversion hands out for
// the other charsets glibc's iconv knows, one per label in the order they are
// first asked for.
inline constexpr uint32 WYKE_ICONV_CONVERSION = 0x20000;

// What iconv_conversion answers for a label iconv does not know.
inline constexpr uint32 WYKE_NO_CONVERSION = 0xffffffff;

// ASCII SUB: what a character without a UTF-8 form becomes.
inline constexpr char B_SUBSTITUTE = 0x1a;

// --- Conversion ----------------------------------------------------------------

// The length of the well-formed UTF-8 character at the start of `text`, of
// which `left` bytes are there (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0 when the bytes there are not one.
std::size_t utf8_length(const char* text, std::size_t left);

// The conversion constant for a charset label (letters in either case) that
// glibc's iconv can convert to UTF-8, or WYKE_NO_CONVERSION. A label is only
// ever a name: anything but letters, digits and "-_.:+()" (iconv's "//"
// options among them) is refused, and so is a label over 64 bytes. The
// constants live as long as the process; at most 4,096 labels get one, so
// that a server cannot make the table grow without end. Any thread may call it.
uint32 iconv_conversion(const std::string& label);

// Converts the *srcLen bytes at `src` from `srcEncoding` into UTF-8 at `dst`,
// writing at most *dstLen bytes; on return *srcLen holds the bytes consumed
// and *dstLen the bytes written. The bytes of `dst` after the written ones are
// left as they were. A character whose UTF-8 form would cross the limit is left
// out whole, and conversion ends there. A character without a mapping, an
// invalid byte or a cut sequence at the end is written as `substitute`, and
// conversion goes on behind it.
//
// Every call starts in the initial state (ISO-2022-JP in ASCII) and *state is
// set to 0: nothing carries over from one call to the next. Returns B_OK, or
// B_BAD_VALUE (nothing consumed or written) for an unknown encoding, a negative
// length or a missing area of non-zero length, or B_ERROR when the system has no converter for the charset.
// Any thread may call it.
status_t convert_to_utf8(uint32 srcEncoding, const char* src, int32* srcLen, char* dst,
                         int32* dstLen, int32* state, char substitute = B_SUBSTITUTE);
