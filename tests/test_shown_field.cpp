// shown_field: one line, and no invisible character that reorders or hides
// text; every other character as it was, broken UTF-8 as replacement marks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shown_field.h"

namespace {

using namespace std::string_literals;

struct ShownCase {
  const char* name;
  std::string field;
  std::string shown;
};

const std::vector<ShownCase> shown_cases = {
    {"plain", "Subject: hello", "Subject: hello"},
    {"empty", "", ""},
    {"line_ends_and_tab", "a\rb\nc\td", "a b c d"},
    {"line_and_paragraph_separators", "a\u2028b\u2029c", "a b c"},
    {"override_spoof", "From: rtl \u202emoc.live@ecnalab", "From: rtl moc.live@ecnalab"},
    {"every_embedding_and_override", "a\u202ab\u202bc\u202cd\u202de\u202ef", "abcdef"},
    {"isolates", "a\u2066b\u2067c\u2068d\u2069e", "abcde"},
    {"marks", "a\u200eb\u200fc\u061cd", "abcd"},
    {"zero_width_and_soft_hyphen", "pay\u200bpal\u00ad.\u2060com\ufeff\u180e", "paypal.com"},
    {"deprecated_format_and_annotation", "a\u206ab\u206fc\ufff9d\ufffbe", "abcde"},
    {"tag_characters", "ok\U000e0041\U000e007f", "ok"},
    {"joiners_stay", "\u0645\u06cc\u200c\u062e\u0648\u0627\u0647\u0645 \U0001f469\u200d\U0001f4bb",
     "\u0645\u06cc\u200c\u062e\u0648\u0627\u0647\u0645 \U0001f469\u200d\U0001f4bb"},
    {"neighbours_of_removed_ranges_stay", "\u2065\u2070\u202f\u2027\u200d\ufffc\U000e0080",
     "\u2065\u2070\u202f\u2027\u200d\ufffc\U000e0080"},
    {"right_to_left_text_stays", "\u05e9\u05dc\u05d5\u05dd abc", "\u05e9\u05dc\u05d5\u05dd abc"},
    // Not UTF-8: a replacement character a byte, never read past the end.
    {"latin1_byte", "Caf\xe9", "Caf\ufffd"},
    {"override_cut_at_the_end", "a\xe2\x80", "a\ufffd\ufffd"},
    {"overlong_override", "a\xf0\x82\x80\xae" "b", "a\ufffd\ufffd\ufffd\ufffd" "b"},
    {"surrogate", "\xed\xa0\x80", "\ufffd\ufffd\ufffd"},
    {"removed_character_joins_no_bytes", "\xe2\u200b\x80\xae", "\ufffd\ufffd\ufffd"},
    {"substitute_and_zero_stay", "a\x1a\0b"s, "a\x1a\0b"s},
};

class ShownField : public testing::TestWithParam<ShownCase> {};

TEST_P(ShownField, IsOneHonestLine) { EXPECT_EQ(shown_field(GetParam().field), GetParam().shown); }

INSTANTIATE_TEST_SUITE_P(Cases, ShownField, testing::ValuesIn(shown_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
