#include "platform/untrusted_text.h"

#include <cstdio>

namespace {

bool is_c1_at(std::string_view text, std::size_t i) {
  const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
  return static_cast<unsigned char>(text[i]) == 0xc2 && next >= 0x80 && next < 0xa0;
}

void append_escape(std::string& out, char c) {
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
  out += escape;
}

}  // namespace

std::string escaped_for_log(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (is_c1_at(text, i)) {
      append_escape(out, text[i]);
      append_escape(out, text[++i]);
    } else if ((c >= 0x20 && c != 0x7f) || c == '\t') {
      out += text[i];
    } else {
      append_escape(out, text[i]);
    }
  }
  return out;
}

std::string printable_ascii(std::string_view text, std::size_t max_bytes) {
  const bool cut = text.size() > max_bytes;
  std::string out(text.substr(0, max_bytes));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  if (cut) out += "...";
  return out;
}
