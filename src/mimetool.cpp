#include "mimetool.h"

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/ascii.h"
#include "platform/base64.h"
#include "platform/text_encoding.h"

namespace {

using size_type = std::string::size_type;
constexpr size_type npos = std::string::npos;

// Converted text longer than this is cut: the notifier shows short lines.
constexpr int32 conversion_area = 255;

struct Charset {
  const char* label;
  uint32 encoding;
};

// Compared with the upper-cased label of a word; the first equal one counts.
// US-ASCII goes through ISO 8859-1 so that stray 8-bit bytes still show.
constexpr Charset charset_table[] = {
    {"US-ASCII", B_ISO1_CONVERSION},   {"ISO-8859-1", B_ISO1_CONVERSION},
    {"ISO-8859-2", B_ISO2_CONVERSION}, {"ISO-8859-3", B_ISO3_CONVERSION},
    {"ISO-8859-4", B_ISO4_CONVERSION}, {"ISO-8859-5", B_ISO5_CONVERSION},
    {"ISO-8859-6", B_ISO6_CONVERSION}, {"ISO-8859-7", B_ISO7_CONVERSION},
    {"ISO-8859-8", B_ISO8_CONVERSION}, {"ISO-8859-9", B_ISO9_CONVERSION},
    {"ISO-2022-JP", B_JIS_CONVERSION},
    // Most mail today is UTF-8; without it nearly every non-ASCII subject
    // would vanish. The text is only checked.
    {"UTF-8", WYKE_UTF8_CONVERSION},
};

// Labels that mail often carries for a charset whose superset every careful
// reader decodes it as: the text was written in the larger one.
constexpr struct {
  const char* label;
  const char* as;
} superset_labels[] = {
    {"GB2312", "GBK"},
    {"KS_C_5601-1987", "CP949"},
    {"ISO-8859-8-I", "ISO-8859-8"},
};

// The conversion for an upper-cased label: the table first, then whatever
// else iconv knows. WYKE_NO_CONVERSION when there is none.
uint32 find_conversion(const std::string& label) {
  for (const Charset& charset : charset_table)
    if (label == charset.label) return charset.encoding;
  for (const auto& superset : superset_labels)
    if (label == superset.label) return find_conversion(superset.as);
  return iconv_conversion(label);
}

// The charset field without the language that RFC 2231 lets follow a "*".
std::string charset_label(const std::string& charset) { return charset.substr(0, charset.find('*')); }

// As toupper does in the C locale, whatever locale the process runs in:
// only a to z change.
// One call into a fixed area: what does not fit is dropped, and a zero byte
// ends the text.
void to_utf8(const uint32 encoding, const std::string& src, std::string& dist) {
  char buf[conversion_area] = {};
  int32 source_len = static_cast<int32>(
      std::min<size_type>(src.size(), std::numeric_limits<int32>::max()));
  int32 dist_len = conversion_area;
  int32 stat = 0;
  convert_to_utf8(encoding, src.data(), &source_len, buf, &dist_len, &stat, B_SUBSTITUTE);
  dist.assign(buf, strnlen(buf, sizeof buf));
}

// --- Decoding the encoded text -----------------------------------------------

std::string decode_b(const std::string& encoded_text) {
  std::string res(encoded_text.size() + 1, '\0');
  const ssize_t decoded_length = decode_base64(res.data(), encoded_text.c_str(),
                                               static_cast<off_t>(encoded_text.size()), false);
  if (decoded_length <= 0) return "Decode Error";
  res.resize(std::min<size_type>(static_cast<size_type>(decoded_length), encoded_text.size()));
  return res.substr(0, res.find('\0'));  // a decoded zero byte ends the text
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "=" and two hex digits is one octet, an underscore a space (0x20) in every
// charset, and an "=" without two hex digits behind it is kept as it stands.
std::string decode_q(const std::string& encoded_text) {
  std::string decoded_text;
  for (size_type i = 0; i < encoded_text.size(); ++i) {
    const char c = encoded_text[i];
    const int high = c == '=' && encoded_text.size() - i > 2 ? hex_value(encoded_text[i + 1]) : -1;
    const int low = high >= 0 ? hex_value(encoded_text[i + 2]) : -1;
    if (low < 0) {
      decoded_text.push_back(c == '_' ? ' ' : c);
      continue;
    }
    decoded_text.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return decoded_text;
}

// Only the first byte of the encoding field counts. An unknown encoding
// becomes a message in a charset that always converts.
std::string decode_text(const std::string& encode_type, const std::string& encoded_text,
                        std::string& charset) {
  const char letter = encode_type.empty() ? '\0' : encode_type[0];
  if (letter == 'B' || letter == 'b') return decode_b(encoded_text);
  if (letter == 'Q' || letter == 'q') return decode_q(encoded_text);
  charset = "US-ASCII";
  return "Unknown encoding.";
}

// --- Finding the words ---------------------------------------------------------

// One "=?charset?encoding?text?=" and where it lies in the line.
struct EncodedWord {
  size_type encode_start_pt;  // the "=?"
  size_type encode_end_pt;    // the "?="
  std::string charset;
  std::string encode_type;
  std::string encoded_text;

  size_type end() const { return encode_end_pt + 2; }
};

// The first complete word at or after `point`. Any bytes count as its fields:
// neither their syntax nor the blanks around the word are checked. When there
// is none here, there is none further on either.
bool find_word(const std::string& line, size_type point, EncodedWord& word) {
  word.encode_start_pt = line.find("=?", point);
  if (word.encode_start_pt == npos) return false;
  const size_type pt1 = line.find('?', word.encode_start_pt + 2);
  if (pt1 == npos) return false;
  const size_type pt2 = line.find('?', pt1 + 1);
  if (pt2 == npos) return false;
  word.encode_end_pt = line.find("?=", pt2 + 1);
  if (word.encode_end_pt == npos) return false;
  word.charset = line.substr(word.encode_start_pt + 2, pt1 - word.encode_start_pt - 2);
  word.encode_type = line.substr(pt1 + 1, pt2 - pt1 - 1);
  word.encoded_text = line.substr(pt2 + 1, word.encode_end_pt - pt2 - 1);
  return true;
}

// Just past the double quote that closes the quoted string opened at `quote`
// (a backslash escapes the byte after it), or npos when none closes it.
size_type quoted_string_end(const std::string& line, size_type quote) {
  for (size_type i = quote + 1; i < line.size(); ++i) {
    if (line[i] == '\\')
      ++i;
    else if (line[i] == '"')
      return i + 1;
  }
  return npos;
}

bool only_blanks(const std::string& line, size_type from, size_type to) {
  return std::all_of(line.begin() + static_cast<std::ptrdiff_t>(from),
                     line.begin() + static_cast<std::ptrdiff_t>(to), [](char c) { return c == ' ' || c == '\t'; });
}

// The UTF-8 text that takes the word's place, or nothing when no converter
// knows its charset: the word then stays as it stood.
std::optional<std::string> word_text(EncodedWord& word) {
  const std::string decoded_text = decode_text(word.encode_type, word.encoded_text, word.charset);
  std::string label = charset_label(word.charset);
  to_ascii_upper(label);
  const uint32 encoding = find_conversion(label);
  if (encoding == WYKE_NO_CONVERSION) return std::nullopt;
  std::string utf8_text;
  to_utf8(encoding, decoded_text, utf8_text);
  return utf8_text;
}

}  // namespace

// One pass from left to right; what has been decoded is never searched again.
// White space between two decoded words is dropped, as RFC 2047 wants: a
// subject folded between two words must not show a gap inside a word.
std::string decode_header(std::string src) {
  std::string out;
  size_type point = 0;  // src before it is in out
  bool after_word = false;
  EncodedWord word;
  bool found = find_word(src, point, word);
  if (!found) return src;  // most fields: nothing to decode, nothing to copy
  size_type quote = src.find('"');
  while (found) {
    if (quote < word.encode_start_pt) {
      const size_type end = quoted_string_end(src, quote);
      if (end == npos) break;  // the rest is one unclosed quoted string
      out.append(src, point, end - point);
      point = end;
      after_word = false;
    } else if (const std::optional<std::string> utf8_text = word_text(word)) {
      if (!after_word || !only_blanks(src, point, word.encode_start_pt))
        out.append(src, point, word.encode_start_pt - point);
      out += *utf8_text;
      point = word.end();
      after_word = true;
    } else {
      out.append(src, point, word.end() - point);
      point = word.end();
      after_word = false;
    }
    if (quote < point) quote = src.find('"', point);
    if (word.encode_start_pt < point) found = find_word(src, point, word);
  }
  out.append(src, point);
  return out;
}
