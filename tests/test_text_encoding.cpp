// Charset conversion: the facts of each charset, the substitute, the output
// limit with whole characters, and that nothing carries over between calls.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/text_encoding.h"
#include "repeat.h"

namespace {

using namespace std::string_literals;
using wyke_test::repeat;

constexpr char canary = '\x55';
constexpr int32 all = -1;  // the whole source is consumed

struct Conversion {
  status_t status;
  std::string written;
  int32 consumed;
  bool area_intact;  // every byte after the written ones still the canary
};

// Converts into an area a little larger than `room`, so that a write past the
// room shows as a changed canary.
Conversion convert(uint32 encoding, const std::string& src, int32 room, char substitute = B_SUBSTITUTE) {
  std::vector<char> area(static_cast<std::size_t>(room) + 8, canary);
  int32 src_len = static_cast<int32>(src.size());
  int32 dst_len = room;
  int32 state = 0;
  const status_t status =
      convert_to_utf8(encoding, src.data(), &src_len, area.data(), &dst_len, &state, substitute);
  Conversion result{status, std::string(area.data(), static_cast<std::size_t>(dst_len)), src_len, true};
  for (std::size_t i = static_cast<std::size_t>(dst_len); i < area.size(); ++i)
    if (area[i] != canary) result.area_intact = false;
  return result;
}

struct ConvertCase {
  const char* name;
  uint32 encoding;
  std::string src;
  int32 room;
  std::string want;
  int32 consumed;
};

const std::string hiragana_a = "\xe3\x81\x82";
const std::string jis_a = "\x1b$B\x24\x22\x1b(B";
const std::string emoji = "\xf0\x9f\x98\x80";

const std::vector<ConvertCase> convert_cases = {
    {"empty", B_ISO1_CONVERSION, "", 255, "", all},
    {"ascii_unchanged", B_ISO1_CONVERSION, "Hello, world!", 255, "Hello, world!", all},
    {"latin1_e_acute", B_ISO1_CONVERSION, "Caf\xe9", 255, "Caf\xc3\xa9", all},
    {"zero_byte_kept", B_ISO1_CONVERSION, "a\0b"s, 255, "a\0b"s, all},
    // One letter per charset, so that each constant reaches its own table.
    {"latin2", B_ISO2_CONVERSION, "\xb1", 255, "\xc4\x85", all},           // a ogonek
    {"latin3", B_ISO3_CONVERSION, "\xa1", 255, "\xc4\xa6", all},           // H stroke
    {"latin4", B_ISO4_CONVERSION, "\xa1", 255, "\xc4\x84", all},           // A ogonek
    {"cyrillic", B_ISO5_CONVERSION, "\xc0", 255, "\xd0\xa0", all},         // Er
    {"arabic", B_ISO6_CONVERSION, "\xc7", 255, "\xd8\xa7", all},           // alef
    {"greek", B_ISO7_CONVERSION, "\xe1", 255, "\xce\xb1", all},            // alpha
    {"hebrew", B_ISO8_CONVERSION, "\xe0", 255, "\xd7\x90", all},           // alef
    {"latin5", B_ISO9_CONVERSION, "\xdd", 255, "\xc4\xb0", all},           // I dot
    {"latin3_hole", B_ISO3_CONVERSION, "\xa5", 255, "\x1a", all},
    {"latin3_hole_goes_on", B_ISO3_CONVERSION, "a\xa5" "b\xa5", 255, "a\x1a" "b\x1a", all},
    {"jis_hiragana_a", B_JIS_CONVERSION, jis_a, 255, hiragana_a, all},
    {"jis_without_escape_is_ascii", B_JIS_CONVERSION, "\x24\x22", 255, "$\"", all},
    {"jis_without_final_escape", B_JIS_CONVERSION, "\x1b$B\x24\x22", 255, hiragana_a, all},
    // An unassigned pair is one character: the text behind it stays aligned.
    {"jis_unassigned_pair", B_JIS_CONVERSION, "\x1b$B\x24\x22\x22\x2f\x24\x22\x1b(B", 255,
     hiragana_a + "\x1a" + hiragana_a, all},
    {"jis_eight_bit_byte", B_JIS_CONVERSION, "a\xe9" "b", 255, "a\x1a" "b", all},
    {"jis_cut_pair_at_end", B_JIS_CONVERSION, "\x1b$B\x24\x22\x24", 255, hiragana_a + "\x1a", all},
    {"jis_cut_escape_at_end", B_JIS_CONVERSION, "a\x1b$", 255, "a\x1a", all},
    {"jis_unknown_escape_passes", B_JIS_CONVERSION, "a\x1bxb", 255, "a\x1bxb", all},
    {"utf8_valid", WYKE_UTF8_CONVERSION, "caf\xc3\xa9 " + hiragana_a + emoji, 255,
     "caf\xc3\xa9 " + hiragana_a + emoji, all},
    {"utf8_stray_byte", WYKE_UTF8_CONVERSION, "a\xff" "b", 255, "a\x1a" "b", all},
    {"utf8_lone_continuation", WYKE_UTF8_CONVERSION, "\x80", 255, "\x1a", all},
    {"utf8_overlong", WYKE_UTF8_CONVERSION, "\xc0\xaf\xe0\x80\xaf", 255, repeat("\x1a", 5), all},
    {"utf8_surrogate", WYKE_UTF8_CONVERSION, "\xed\xa0\x80", 255, repeat("\x1a", 3), all},
    {"utf8_above_unicode", WYKE_UTF8_CONVERSION, "\xf4\x90\x80\x80", 255, repeat("\x1a", 4), all},
    {"utf8_highest", WYKE_UTF8_CONVERSION, "\xf4\x8f\xbf\xbf", 255, "\xf4\x8f\xbf\xbf", all},
    {"utf8_cut_before_ascii", WYKE_UTF8_CONVERSION, "\xe3\x81" "b", 255, "\x1a\x1a" "b", all},
    // The limit: whole characters only, and the rest of the source is left.
    {"latin1_200_letters", B_ISO1_CONVERSION, repeat("\xc0", 200), 255, repeat("\xc3\x80", 127), 127},
    {"jis_limit_inside_second", B_JIS_CONVERSION, "\x1b$B\x24\x22\x24\x22", 4, hiragana_a, 5},
    {"utf8_limit_inside_emoji", WYKE_UTF8_CONVERSION, "a" + emoji, 4, "a", 1},
    {"utf8_exactly_full", WYKE_UTF8_CONVERSION, repeat(hiragana_a, 2), 6, repeat(hiragana_a, 2), all},
    {"substitute_needs_room", B_ISO3_CONVERSION, "ab\xa5", 2, "ab", 2},
    {"no_room", B_ISO1_CONVERSION, "abc", 0, "", 0},
};

class ConvertToUtf8 : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertToUtf8, WritesWithinTheRoom) {
  const ConvertCase& c = GetParam();
  const Conversion got = convert(c.encoding, c.src, c.room);
  EXPECT_EQ(got.status, B_OK);
  EXPECT_EQ(got.written, c.want);
  EXPECT_EQ(got.consumed, c.consumed == all ? static_cast<int32>(c.src.size()) : c.consumed);
  EXPECT_TRUE(got.area_intact);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertToUtf8, testing::ValuesIn(convert_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConvertToUtf8Calls, TheSubstituteIsTheCallersChoice) {
  EXPECT_EQ(convert(B_ISO3_CONVERSION, "a\xa5", 255, '?').written, "a?");
  EXPECT_EQ(convert(WYKE_UTF8_CONVERSION, "a\xff", 255, '?').written, "a?");
}

// Two calls on the two halves of a JIS text: the second starts in ASCII again.
TEST(ConvertToUtf8Calls, EveryCallStartsInTheInitialState) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(convert(B_JIS_CONVERSION, "\x1b$B", 255).written, "");
    EXPECT_EQ(convert(B_JIS_CONVERSION, "\x24\x22", 255).written, "$\"");
    EXPECT_EQ(convert(B_JIS_CONVERSION, jis_a, 255).written, hiragana_a);
  }
}

// Threads converting at once, each in the middle of its own JIS text, keep
// out of each other's state.
TEST(ConvertToUtf8Calls, ThreadsConvertIndependently) {
  const std::string shifted = "\x1b$B" + repeat("\x24\x22", 40) + "\x1b(B";
  const std::string ascii = repeat("\x24\x22", 40);
  const std::string want_shifted = repeat(hiragana_a, 40);
  const std::string want_ascii = repeat("$\"", 40);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        const bool in_jis = (i + t) % 2 == 0;
        if (convert(B_JIS_CONVERSION, in_jis ? shifted : ascii, 255).written != (in_jis ? want_shifted : want_ascii))
          ++wrong;
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

struct RefusedCase {
  const char* name;
  uint32 encoding;
  const char* src;
  int32 src_len;
  bool with_area;
  int32 dst_len;
};

const std::vector<RefusedCase> refused_cases = {
    {"unknown_constant", 9, "abc", 3, true, 8},
    {"constant_above", 14, "abc", 3, true, 8},
    {"negative_source_length", B_ISO1_CONVERSION, "abc", -1, true, 8},
    {"negative_room", B_ISO1_CONVERSION, "abc", 3, true, -1},
    {"no_source", B_ISO1_CONVERSION, nullptr, 3, true, 8},
    {"no_area", B_ISO1_CONVERSION, "abc", 3, false, 8},
    {"no_such_label", WYKE_NO_CONVERSION, "abc", 3, true, 8},
    {"iconv_constant_never_handed_out", WYKE_ICONV_CONVERSION + 100000, "abc", 3, true, 8},
};

class ConvertToUtf8Refuses : public testing::TestWithParam<RefusedCase> {};

TEST_P(ConvertToUtf8Refuses, WithNothingWritten) {
  const RefusedCase& c = GetParam();
  char area[8] = {canary, canary, canary, canary, canary, canary, canary, canary};
  int32 src_len = c.src_len, dst_len = c.dst_len, state = 0;
  EXPECT_EQ(convert_to_utf8(c.encoding, c.src, &src_len, c.with_area ? area : nullptr, &dst_len, &state),
            B_BAD_VALUE);
  EXPECT_EQ(src_len, 0);
  EXPECT_EQ(dst_len, 0);
  for (char byte : area) EXPECT_EQ(byte, canary);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertToUtf8Refuses, testing::ValuesIn(refused_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConvertToUtf8Calls, EmptyAreasNeedNoPointers) {
  int32 src_len = 0, dst_len = 0, state = 0;
  EXPECT_EQ(convert_to_utf8(B_ISO1_CONVERSION, nullptr, &src_len, nullptr, &dst_len, &state), B_OK);
  src_len = 3;
  EXPECT_EQ(convert_to_utf8(B_ISO1_CONVERSION, "abc", &src_len, nullptr, &dst_len, &state), B_OK);
  EXPECT_EQ(src_len, 0);
  EXPECT_EQ(dst_len, 0);
}

// --- Charsets by label -----------------------------------------------------------

struct LabelCase {
  const char* name;
  std::string label;
  std::string src;
  std::string want;  // empty: the label has no conversion
};

const std::vector<LabelCase> label_cases = {
    {"koi8_r", "KOI8-R", "\xf0\xd2\xc9", "При"},
    {"lower_case", "koi8-r", "\xf0", "П"},
    {"windows_1252_euro", "windows-1252", "\x80", "€"},
    {"gbk", "GBK", "\xc4\xe3\xba\xc3", "你好"},
    {"big5", "BIG5", "\xb7\x7c", "會"},
    {"shift_jis_half_pair_at_end", "SHIFT_JIS", "a\x82", "a\x1a"},
    {"euc_kr_unmapped_pair", "EUC-KR", "\xa1\xa1\xff", "\u3000\x1a"},
    {"utf_16_without_bom", "UTF-16BE", "\x00" "a\x00" "b"s, "ab"},
    {"unknown", "X-NO-SUCH-CHARSET", "", ""},
    {"empty", "", "", ""},
    {"iconv_option", "UTF-8//TRANSLIT", "", ""},
    {"blank", "KOI8 R", "", ""},
    {"path", "../../tmp/x", "", ""},
    {"zero_byte", "KOI8-R\0"s, "", ""},
    {"longer_than_64", "ISO-8859-1" + std::string(60, '-'), "", ""},
};

class IconvConversion : public testing::TestWithParam<LabelCase> {};

TEST_P(IconvConversion, ConvertsWhatIconvKnows) {
  const LabelCase& c = GetParam();
  const uint32 encoding = iconv_conversion(c.label);
  if (c.want.empty()) {
    EXPECT_EQ(encoding, WYKE_NO_CONVERSION);
    return;
  }
  ASSERT_GE(encoding, WYKE_ICONV_CONVERSION);
  const Conversion got = convert(encoding, c.src, 255);
  EXPECT_EQ(got.status, B_OK);
  EXPECT_EQ(got.written, c.want);
  EXPECT_TRUE(got.area_intact);
}

INSTANTIATE_TEST_SUITE_P(Cases, IconvConversion, testing::ValuesIn(label_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IconvConversionCalls, OneLabelOneConstantWhateverItsCase) {
  const uint32 koi8 = iconv_conversion("KOI8-U");
  EXPECT_EQ(iconv_conversion("koi8-u"), koi8);
  EXPECT_EQ(iconv_conversion("Koi8-U"), koi8);
  EXPECT_NE(iconv_conversion("CP1250"), koi8);
}

// Multi-byte text at the limit: whole characters only, as with the platform's.
TEST(IconvConversionCalls, WholeCharactersAtTheLimit) {
  const Conversion got = convert(iconv_conversion("GBK"), repeat("\xc4\xe3", 10), 8);
  EXPECT_EQ(got.written, repeat("你", 2));
  EXPECT_EQ(got.consumed, 4);
  EXPECT_TRUE(got.area_intact);
}

TEST(IconvConversionCalls, ThreadsAskingForANewLabelShareItsConstant) {
  std::vector<std::thread> threads;
  std::vector<uint32> got(4);
  for (std::size_t t = 0; t < got.size(); ++t)
    threads.emplace_back([&, t] { got[t] = iconv_conversion(t % 2 == 0 ? "ISO-8859-13" : "iso-8859-13"); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_NE(got[0], WYKE_NO_CONVERSION);
  for (const uint32 encoding : got) EXPECT_EQ(encoding, got[0]);
  EXPECT_EQ(convert(got[0], "\xe0", 255).written, "ą");
}

}  // namespace
