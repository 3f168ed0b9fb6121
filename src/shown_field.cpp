#include "shown_field.h"

#include <cstddef>

#include "platform/text_encoding.h"

namespace {

using size_type = std::string::size_type;

constexpr const char* replacement_character = "\xef\xbf\xbd";  // U+FFFD

struct CodePoint {
  char32_t value;
  size_type length;  // 0: the bytes there are no well-formed UTF-8
};

// The UTF-8 character at `i` (RFC 3629: shortest form only).
CodePoint code_point_at(const std::string& text, size_type i) {
  const size_type length = utf8_length(text.data() + i, text.size() - i);
  if (length == 0) return {0, 0};
  static constexpr unsigned char lead_bits[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
  char32_t value = static_cast<unsigned char>(text[i]) & lead_bits[length];
  for (size_type k = 1; k < length; ++k) value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3fu);
  return {value, length};
}

// A field is one line: anything that would break it, or a TAB, shows as a space.
bool shows_as_space(char32_t c) { return c == '\r' || c == '\n' || c == '\t' || c == 0x2028 || c == 0x2029; }

bool is_invisible_format(char32_t c) {
  return c == 0x00ad || c == 0x061c || c == 0x180e || c == 0x200b || c == 0x200e || c == 0x200f ||
         (c >= 0x202a && c <= 0x202e) || (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x206f) ||
         c == 0xfeff || (c >= 0xfff9 && c <= 0xfffb) || (c >= 0xe0000 && c <= 0xe007f);
}

// Printable ASCII, the common case, is shown as it is.
bool is_plain(const std::string& field) {
  for (const char c : field)
    if (static_cast<unsigned char>(c) >= 0x80 || c == '\r' || c == '\n' || c == '\t') return false;
  return true;
}

}  // namespace

std::string shown_field(std::string field) {
  if (is_plain(field)) return field;
  std::string shown;
  shown.reserve(field.size());
  for (size_type i = 0; i < field.size();) {
    const CodePoint c = code_point_at(field, i);
    if (c.length == 0) {
      shown += replacement_character;
      ++i;
      continue;
    }
    if (shows_as_space(c.value))
      shown += ' ';
    else if (!is_invisible_format(c.value))
      shown.append(field, i, c.length);
    i += c.length;
  }
  return shown;
}
