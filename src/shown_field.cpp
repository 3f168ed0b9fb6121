#include "shown_field.h"

#include <cstddef>

namespace {

using size_type = std::string::size_type;

constexpr const char* replacement_character = "\xef\xbf\xbd";  // U+FFFD

struct CodePoint {
  char32_t value;
  size_type length;  // 0: the bytes there are no well-formed UTF-8
};

// The UTF-8 character at `i` (RFC 3629: shortest form only).
CodePoint code_point_at(const std::string& text, size_type i) {
  const auto byte = [&](size_type k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return {lead, 1};
  size_type length = 0;
  char32_t value = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, value = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, value = lead & 0x0fu;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, value = lead & 0x07u;
  } else {
    return {0, 0};
  }
  if (text.size() - i < length) return {0, 0};
  for (size_type k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0u) != 0x80u) return {0, 0};
    value = value << 6 | (byte(i + k) & 0x3fu);
  }
  const char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < shortest[length] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return {0, 0};
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
