// Feeds arbitrary bytes to decode_header and shown_field, and to
// convert_to_utf8 under every conversion and a few charsets by label, checking
// what their callers rely on: no overrun, nothing written past the reported
// length, whole characters only, valid UTF-8, a bounded result, and a shown
// line with no line break and no invisible format character.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mimetool.h"
#include "platform/text_encoding.h"
#include "require.h"
#include "shown_field.h"

namespace {

const uint32 encodings[] = {
    B_ISO1_CONVERSION, B_ISO2_CONVERSION, B_ISO3_CONVERSION, B_ISO4_CONVERSION,
    B_ISO5_CONVERSION, B_ISO6_CONVERSION, B_ISO7_CONVERSION, B_ISO8_CONVERSION,
    B_ISO9_CONVERSION, B_JIS_CONVERSION,  WYKE_UTF8_CONVERSION,
    // Multi-byte and stateful charsets that only iconv's labels reach.
    iconv_conversion("GBK"), iconv_conversion("BIG5"), iconv_conversion("SHIFT_JIS"),
    iconv_conversion("EUC-KR"), iconv_conversion("UTF-16"), iconv_conversion("UTF-7"),
    iconv_conversion("ISO-2022-KR"), iconv_conversion("KOI8-R"),
};

// A word is at least "=????=" and its text at most a conversion area of 255
// bytes or "Unknown encoding.", so no line grows by more than this factor.
constexpr std::size_t max_growth = 255 / 6 + 1;

// Never a byte of UTF-8, so an untouched area is told from a written one.
constexpr char canary = static_cast<char>(0xff);

// glibc's own UTF-8 decoder is the judge, independent of the converter's checker.
bool is_utf8(const std::string& text) {
  static const iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::vector<char> wide(4 * text.size() + 4);
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* out = wide.data();
  std::size_t out_left = wide.size();
  return iconv(cd, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1) && in_left == 0;
}

// One conversion into an area of exactly `room` bytes, so that the address
// sanitizer sees any write past it.
std::string convert(uint32 encoding, const std::string& src, std::size_t room) {
  std::vector<char> area(room, canary);
  int32 src_len = static_cast<int32>(src.size());
  int32 dst_len = static_cast<int32>(room);
  int32 state = 0;
  REQUIRE(convert_to_utf8(encoding, src.data(), &src_len, area.data(), &dst_len, &state) == B_OK);
  REQUIRE(src_len >= 0 && static_cast<std::size_t>(src_len) <= src.size());
  REQUIRE(dst_len >= 0 && static_cast<std::size_t>(dst_len) <= room);
  for (std::size_t i = static_cast<std::size_t>(dst_len); i < room; ++i) REQUIRE(area[i] == canary);
  std::string written(area.data(), static_cast<std::size_t>(dst_len));
  REQUIRE(is_utf8(written));
  return written;
}

void check_conversion(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  const uint32 encoding = encodings[data[0] % std::size(encodings)];
  const std::size_t room = data[1];
  const std::string src(reinterpret_cast<const char*>(data + 2), size - 2);
  // Room for everything: no source byte yields more than three UTF-8 bytes
  // (UTF-7 can: "+" and a base64 letter may stand for a 4-byte character).
  const std::string whole = convert(encoding, src, 4 * src.size() + 4);
  // A smaller area holds a prefix of it that ends on a character boundary.
  const std::string cut = convert(encoding, src, room);
  REQUIRE(whole.compare(0, cut.size(), cut) == 0);
  if (encoding == WYKE_UTF8_CONVERSION && is_utf8(src)) REQUIRE(whole == src);
}

// No CR, LF or TAB, and none of the characters shown_field must remove.
void check_shown(const std::string& shown) {
  static const char* const hidden[] = {"\r", "\n", "\t", "\u2028", "\u202e", "\u202a", "\u2066",
                                       "\u2069", "\u200e", "\u200f", "\u061c", "\u200b", "\ufeff"};
  for (const char* bytes : hidden) REQUIRE(shown.find(bytes) == std::string::npos);
  REQUIRE(shown_field(shown) == shown);
}

void check_decoding(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string decoded = decode_header(line);
  if (line.find("=?") == std::string::npos) REQUIRE(decoded == line);
  REQUIRE(decoded.size() <= max_growth * line.size());
  const std::string shown = shown_field(decoded);
  check_shown(shown);
  REQUIRE(is_utf8(shown));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_decoding(data, size);
  check_conversion(data, size);
  return 0;
}
