#include "platform/base64.h"

#include <algorithm>

namespace {

// The 6-bit value of a base64 character, or -1 for a byte outside the alphabet.
int sextet(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

ssize_t decode_base64(char* out, const char* in, off_t length, bool replace_cr) {
  if (out == nullptr || in == nullptr || length <= 0) return 0;
  ssize_t written = 0;
  unsigned bits = 0;  // undelivered bits, right-aligned
  int bit_count = 0;
  for (off_t i = 0; i < length && in[i] != '='; ++i) {
    const int value = sextet(static_cast<unsigned char>(in[i]));
    if (value < 0) continue;
    bits = (bits << 6 | static_cast<unsigned>(value)) & 0xfff;
    bit_count += 6;
    if (bit_count < 8) continue;
    bit_count -= 8;
    const char byte = static_cast<char>(bits >> bit_count);
    if (replace_cr && byte == '\n' && written > 0 && out[written - 1] == '\r') --written;
    out[written++] = byte;
  }
  return written;
}

std::string encode_base64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    unsigned group = 0;
    for (std::size_t j = 0; j < 3; ++j)
      group = group << 8 | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    for (std::size_t j = 0; j < 4; ++j) out += j <= count ? alphabet[group >> (18 - 6 * j) & 63] : '=';
  }
  return out;
}
