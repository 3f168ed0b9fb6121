// decode_header: what each raw header line comes back as, well-formed and
// broken words alike, and the lines that must come back byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mimetool.h"
#include "repeat.h"

namespace {

using namespace std::string_literals;
using wyke_test::repeat;

struct HeaderCase {
  const char* name;
  std::string line;
  std::string want;
};

const std::string e_acute = "\xc3\xa9";
const std::string hiragana_a = "\xe3\x81\x82";
const std::string jis_a_b64 = "GyRCJCIbKEI=";  // ESC $ B, 0x24 0x22, ESC ( B
const std::string word_x = "=?ISO-8859-1?Q?x?=";

const std::vector<HeaderCase> header_cases = {
    // Well-formed words.
    {"q_latin1", "Subject: =?ISO-8859-1?Q?Caf=E9?=", "Subject: Caf" + e_acute},
    {"case_of_letter_and_label", "=?iso-8859-1?q?abc?=", "abc"},
    {"lower_case_hex", "=?ISO-8859-1?Q?=e9?=", e_acute},
    {"underscore_is_a_space", "=?ISO-8859-1?Q?a_b?=", "a b"},
    {"blank_between_words_dropped", "=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=", "ab"},
    {"words_run_together", "=?ISO-8859-1?Q?a?==?ISO-8859-1?Q?b?=", "ab"},
    {"inside_a_word", "x=?ISO-8859-1?Q?y?=z", "xyz"},
    {"in_the_field_name", "=?ISO-8859-1?Q?Subject?=: x", "Subject: x"},
    {"blanks_inside_fields", "=?ISO-8859-1?Q?a b?=", "a b"},
    {"us_ascii_as_latin1", "=?US-ASCII?Q?=E9?=", e_acute},
    {"b_latin2", "=?ISO-8859-2?B?sbPm?=", "\xc4\x85\xc5\x82\xc4\x87"},
    {"encoding_first_byte_only", "=?ISO-8859-1?Base64?YWJj?=", "abc"},
    {"b_zero_byte_ends_text", "=?ISO-8859-1?B?YQBi?=", "a"},
    {"q_zero_byte_ends_text", "=?ISO-8859-1?Q?a=00b?= c", "a c"},
    // Failures inside the line.
    {"koi8_r_converted", "Re: =?KOI8-R?Q?x?= end", "Re: x end"},
    {"empty_charset_kept_as_it_stood", "a=??Q?x?=b", "a=??Q?x?=b"},
    {"unknown_encoding", "=?ISO-8859-1?X?abc?=", "Unknown encoding."},
    {"unknown_encoding_any_charset", "=?KOI8-R?X?abc?=", "Unknown encoding."},
    {"empty_encoding", "=?ISO-8859-1??abc?=", "Unknown encoding."},
    {"b_empty_text", "=?ISO-8859-1?B?" "?=", "Decode Error"},
    {"b_nothing_in_alphabet", "=?ISO-8859-1?B?!!!!?=", "Decode Error"},
    {"decode_error_in_koi8_r", "=?KOI8-R?B?" "?=", "Decode Error"},
    {"no_closing_marker", "Subject: =?ISO-8859-1?Q?abc", "Subject: =?ISO-8859-1?Q?abc"},
    {"no_second_question_mark", "=?ISO-8859-1 x?=", "=?ISO-8859-1 x?="},
    {"marker_needs_own_question_mark", "=?a?b?=", "=?a?b?="},
    {"decoded_before_broken", word_x + " =?ISO", "x =?ISO"},
    // Malformed Q escapes keep the "=" and what follows.
    {"q_equals_at_end", "=?ISO-8859-1?Q?a=?=", "a="},
    {"q_one_digit_at_end", "=?ISO-8859-1?Q?a=4?=", "a=4"},
    {"q_first_not_hex", "=?ISO-8859-1?Q?=G1?=", "=G1"},
    {"q_second_not_hex", "=?ISO-8859-1?Q?=4g?=", "=4g"},
    {"q_escape_after_broken_one", "=?ISO-8859-1?Q?=4=41?=", "=4A"},
    // Double quotes.
    {"word_in_quotes", "From: \"" + word_x + "\" <a@b>", "From: \"" + word_x + "\" <a@b>"},
    {"word_before_quoted_string", word_x + " \"q\" " + word_x, "x \"q\" x"},
    {"word_before_lone_quote", word_x + " \" " + word_x, "x \" " + word_x},
    {"word_after_lone_quote", "\" " + word_x, "\" " + word_x},
    {"second_quoted_string", "\"a\" \"" + word_x + "\"", "\"a\" \"" + word_x + "\""},
    {"words_around_quoted_string", "\"a\" " + word_x + " \"b\" " + word_x, "\"a\" x \"b\" x"},
    // The inserted text is never searched again.
    {"decoded_marker_not_decoded", "=?ISO-8859-1?Q?=3D=3FISO-8859-1=3FQ=3Fx=3F=3D?=", word_x},
    {"decoded_quote_pairs_nothing", "=?ISO-8859-1?Q?=22?= " + word_x, "\"x"},
    // ISO-2022-JP: each word starts in ASCII.
    {"jis_with_escapes", "Subject: =?ISO-2022-JP?B?" + jis_a_b64 + "?=", "Subject: " + hiragana_a},
    {"jis_without_escapes", "=?ISO-2022-JP?B?JCI=?=", "$\""},
    {"jis_escape_in_previous_word", "=?ISO-2022-JP?B?GyRC?==?ISO-2022-JP?B?JCI=?=", "$\""},
    // UTF-8, the one label beyond the platform's charsets.
    {"utf8_b", "=?UTF-8?B?44GC44GE44GG?=", "\xe3\x81\x82\xe3\x81\x84\xe3\x81\x86"},
    {"utf8_q_lower_label", "=?utf-8?q?caf=C3=A9?=", "caf" + e_acute},
    {"utf8_invalid_byte", "=?UTF-8?Q?a=FFb?=", "a\x1a" "b"},
    {"utf8_split_across_words", "=?UTF-8?B?4oI=?= =?UTF-8?B?rA==?=", "\x1a\x1a\x1a"},
    {"utf8_variant_converted", "a=?UTF8?Q?x?=b", "axb"},
    // Words whose UTF-8 text is longer than 255 bytes: whole characters only.
    {"long_latin1_word", "=?ISO-8859-1?B?" + repeat("6enp", 67) + "?= end",
     repeat(e_acute, 127) + " end"},
    {"long_utf8_word_fills_exactly", "=?UTF-8?B?" + repeat("44GC", 100) + "?=", repeat(hiragana_a, 85)},
    {"long_utf8_word_of_emoji", "=?UTF-8?B?" + repeat("8J+YgPCfmIDwn5iA", 22) + "?=",
     repeat("\xf0\x9f\x98\x80", 63)},
    {"long_q_word", "=?ISO-8859-1?Q?" + repeat("=E9", 200) + "?=", repeat(e_acute, 127)},
    {"long_koi8_r_word", "=?KOI8-R?B?8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw8PDw?=", repeat("\xd0\x9f", 127)},
    // White space between decoded words goes; beside anything else it stays.
    {"blanks_and_tabs_between_words", word_x + " \t " + word_x, "xx"},
    {"text_between_words", word_x + " - " + word_x, "x - x"},
    {"blank_after_quoted_string", "\"a\" " + word_x + " " + word_x, "\"a\" xx"},
    {"blank_beside_a_word_kept_raw", "=?x-none?Q?a?= " + word_x + " =?x-none?Q?b?=", "=?x-none?Q?a?= x =?x-none?Q?b?="},
    // Labels: a language alone names no charset; a superset of what mail mislabels.
    {"language_alone_is_no_label", "=?*en?Q?x?=", "=?*en?Q?x?="},
    {"hebrew_logical_order_label", "=?ISO-8859-8-I?Q?=E0?=", "\xd7\x90"},
    {"quoted_pair_keeps_string_open", "\"a\\\" " + word_x + "\" " + word_x, "\"a\\\" " + word_x + "\" x"},
};

class DecodeHeader : public testing::TestWithParam<HeaderCase> {};

TEST_P(DecodeHeader, ReturnsTheLine) {
  const HeaderCase& c = GetParam();
  EXPECT_EQ(decode_header(c.line), c.want);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeHeader, testing::ValuesIn(header_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Lines without "=?" come back byte for byte, whatever they hold.
const std::vector<std::string> untouched_lines = {
    "",
    "Subject: hello",
    "Subject: \"quoted\" and \"lone",
    "Subject: why? =because ?= is not =? in order",
    "Subject: a_b =E9 ?Q?",
    "Subject: Caf\xe9 \xff\xfe raw bytes",
    "Subject: a\0b\r\n"s,
    std::string(2000, '?'),
};

TEST(DecodeHeaderLines, WithoutEncodedWordsComeBackAsTheyAre) {
  for (const std::string& line : untouched_lines) EXPECT_EQ(decode_header(line), line);
}

TEST(DecodeHeaderLines, TheCallersStringIsKept) {
  const std::string line = "=?ISO-8859-1?Q?x?=";
  std::string copy = line;
  decode_header(copy);
  EXPECT_EQ(copy, line);
}

// A folded subject of many words, as the check cycle passes each line.
TEST(DecodeHeaderLines, ManyWordsInOneLine) {
  const std::string word = "=?UTF-8?B?44GC?= ";
  EXPECT_EQ(decode_header("Subject: " + repeat(word, 60)), "Subject: " + repeat(hiragana_a, 60) + " ");
}

}  // namespace
