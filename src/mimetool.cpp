#include "mimetool.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <limits>

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

const Charset* find_charset(const std::string& label) {
  for (const Charset& charset : charset_table)
    if (label == charset.label) return &charset;
  return nullptr;
}

// As toupper does in the C locale, whatever locale the process runs in:
// only a to z change.
void upper_case(std::string& text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

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

// "=" and two hex digits is one octet; an underscore stays an underscore, and
// an "=" without two hex digits behind it is kept as it stands.
std::string decode_q(const std::string& encoded_text) {
  std::string decoded_text;
  for (size_type i = 0; i < encoded_text.size(); ++i) {
    const char c = encoded_text[i];
    const int high = c == '=' && encoded_text.size() - i > 2 ? hex_value(encoded_text[i + 1]) : -1;
    const int low = high >= 0 ? hex_value(encoded_text[i + 2]) : -1;
    if (low < 0) {
      decoded_text.push_back(c);
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
};

// Moves `point` past the first quoted string at or after it: one per pass, so
// a word before it is passed over too. False when the quote there has no
// partner, which ends the decoding.
bool pass_quoted_string(const std::string& line, size_type& point) {
  const size_type pt1 = line.find('"', point);
  if (pt1 == npos) return true;
  const size_type closing = line.find('"', pt1 + 1);
  if (closing == npos) return false;
  point = closing + 1;
  return true;
}

// The first complete word at or after `point`. Any bytes count as its fields:
// neither their syntax nor the blanks around the word are checked.
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

// The UTF-8 text that takes the word's place; empty for a charset not in the table.
std::string word_text(EncodedWord& word) {
  const std::string decoded_text = decode_text(word.encode_type, word.encoded_text, word.charset);
  upper_case(word.charset);
  std::string utf8_text;
  if (const Charset* charset = find_charset(word.charset))
    to_utf8(charset->encoding, decoded_text, utf8_text);
  return utf8_text;
}

}  // namespace

std::string decode_header(std::string src) {
  size_type point = 0;
  while (point < src.size()) {
    if (!pass_quoted_string(src, point)) break;
    EncodedWord word;
    if (!find_word(src, point, word)) break;
    const std::string utf8_text = word_text(word);
    src.replace(word.encode_start_pt, word.encode_end_pt + 2 - word.encode_start_pt, utf8_text);
    // The inserted text is never searched again.
    point = word.encode_start_pt + utf8_text.size();
  }
  return src;
}
