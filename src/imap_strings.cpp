#include "imap_strings.h"

#include <cstdint>
#include <vector>

namespace {

// The next character of `text` from `at`, moving past it.
char32_t next_character(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(at++);
  if (first < 0x80) return first;
  const int more = first >= 0xF0 && first < 0xF5 ? 3 : first >= 0xE0 ? 2 : first >= 0xC2 && first < 0xE0 ? 1 : -1;
  if (more < 0 || at + more > text.size()) return U'\uFFFD';
  char32_t c = first & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return U'\uFFFD';
    c = c << 6 | (byte(at + i) & 0x3F);
  }
  at += more;
  const char32_t least[] = {0, 0x80, 0x800, 0x10000};
  if (c < least[more] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return U'\uFFFD';
  return c;
}

// Modified base64 of UTF-16 units: "," for "/", no padding.
std::string base64_of_units(const std::vector<std::uint16_t>& units) {
  static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  std::string out;
  std::uint32_t bits = 0;
  int held = 0;
  for (const std::uint16_t unit : units) {
    bits = bits << 16 | unit;
    held += 16;
    while (held >= 6) {
      held -= 6;
      out += digits[(bits >> held) & 0x3F];
    }
    bits &= (1u << held) - 1;
  }
  if (held > 0) out += digits[(bits << (6 - held)) & 0x3F];
  return out;
}

}  // namespace

bool fits_quoted(std::string_view text) {
  for (const char c : text)
    if (c == '\r' || c == '\n' || c == '\0' || static_cast<unsigned char>(c) > 127) return false;
  return true;
}

std::string imap_quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string imap_mailbox_name(std::string_view utf8) {
  std::string out;
  std::vector<std::uint16_t> units;
  const auto end_run = [&] {
    if (units.empty()) return;
    out += '&' + base64_of_units(units) + '-';
    units.clear();
  };
  for (std::size_t at = 0; at < utf8.size();) {
    const char32_t c = next_character(utf8, at);
    if (c >= 0x20 && c <= 0x7E) {
      end_run();
      out += c == '&' ? "&-" : std::string(1, static_cast<char>(c));
    } else if (c >= 0x10000) {
      units.push_back(static_cast<std::uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(static_cast<std::uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<std::uint16_t>(c));
    }
  }
  end_run();
  return out;
}
