// Base64 decoding: padding, bytes outside the alphabet, short final groups,
// and that the output never grows past the input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base64.h"

namespace {

using namespace std::string_literals;

struct Base64Case {
  const char* name;
  std::string in;
  bool replace_cr;
  std::string want;
};

const std::vector<Base64Case> base64_cases = {
    {"empty", "", false, ""},
    {"one_group", "YWJj", false, "abc"},
    {"padding_two", "YQ==", false, "a"},
    {"padding_one", "YWI=", false, "ab"},
    {"short_group_without_padding", "YWI", false, "ab"},
    {"single_character_is_no_byte", "Y", false, ""},
    {"all_bits", "+/+/", false, "\xfb\xff\xbf"},
    {"zero_bytes_kept", "YQBi", false, "a\0b"s},
    {"blanks_and_breaks_skipped", "YW\r\nJj ZG\tVm", false, "abcdef"},
    {"punctuation_skipped", "Y!W*J-j", false, "abc"},
    {"only_outside_alphabet", "!!!!", false, ""},
    {"stops_at_padding", "YQ==YWJj", false, "a"},
    {"padding_first", "=YWJj", false, ""},
    {"zero_byte_in_input_skipped", "YW\0Jj"s, false, "abc"},
    {"crlf_kept", "YQ0KYg==", false, "a\r\nb"},
    {"crlf_replaced", "YQ0KYg==", true, "a\nb"},
    {"lone_cr_kept", "YQ1i", true, "a\rb"},
};

class DecodeBase64 : public testing::TestWithParam<Base64Case> {};

TEST_P(DecodeBase64, WritesTheBytes) {
  const Base64Case& c = GetParam();
  // One byte more than the input, as callers give it; the last must stay.
  std::vector<char> out(c.in.size() + 1, '\x55');
  const ssize_t written =
      decode_base64(out.data(), c.in.data(), static_cast<off_t>(c.in.size()), c.replace_cr);
  ASSERT_GE(written, 0);
  ASSERT_LE(static_cast<std::size_t>(written), c.in.size());
  EXPECT_EQ(std::string(out.data(), static_cast<std::size_t>(written)), c.want);
  EXPECT_EQ(out.back(), '\x55');
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeBase64, testing::ValuesIn(base64_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeBase64Calls, ReadsOnlyTheGivenLength) {
  char out[16];
  EXPECT_EQ(decode_base64(out, "YWJjZGVm", 4), 3);
  EXPECT_EQ(std::string(out, 3), "abc");
}

TEST(DecodeBase64Calls, NothingToDecode) {
  char out[4];
  EXPECT_EQ(decode_base64(out, "YWJj", 0), 0);
  EXPECT_EQ(decode_base64(out, "YWJj", -4), 0);
  EXPECT_EQ(decode_base64(out, nullptr, 4), 0);
  EXPECT_EQ(decode_base64(nullptr, "YWJj", 4), 0);
}

}  // namespace

namespace {

using namespace std::string_literals;

TEST(EncodeBase64, PaddingAllBitsAndTheWayBack) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"a", "YQ=="},
      {"ab", "YWI="},
      {"abc", "YWJj"},
      {"abcd", "YWJjZA=="},
      {"\xfb\xff\xbf", "+/+/"},
      {"\0\0\0\0"s, "AAAAAA=="},
      {"user=someuser@example.com\x01" "auth=Bearer ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg\x01\x01",
       "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZMjl0Q2cBAQ=="},
  };
  for (const auto& [bytes, text] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(encode_base64(bytes), text);
    std::vector<char> back(text.size() + 1);
    const ssize_t n = decode_base64(back.data(), text.data(), static_cast<off_t>(text.size()));
    EXPECT_EQ(std::string(back.data(), static_cast<std::size_t>(n)), bytes);
  }
}

}  // namespace
