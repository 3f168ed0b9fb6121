// SASL XOAUTH2: the exact string a client signs in with, and the status
// read out of a server's refusal, whatever the server sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base64.h"
#include "xoauth2.h"

namespace {

TEST(Xoauth2, ResponseIsTheBase64OfTheSaslString) {
  // The example of the providers' documentation.
  EXPECT_EQ(xoauth2_response("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"),
            "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZ"
            "Mjl0Q2cBAQ==");
  EXPECT_EQ(xoauth2_response("", ""), encode_base64("user=\x01" "auth=Bearer \x01\x01"));
}

TEST(Xoauth2, RefusalStatus) {
  struct Case {
    const char* name;
    std::string json;  // sent in base64
    std::string status;
  };
  const std::vector<Case> cases = {
      {"quoted", R"({"status":"401","schemes":"bearer","scope":"https://mail.google.com/"})", "401"},
      {"blanks_and_lines", "{ \"scope\" : \"x\",\n  \"status\" :\t\"invalid_token\" }", "invalid_token"},
      {"bare_number", R"({"status":400,"schemes":"Bearer"})", "400"},
      {"no_status", R"({"schemes":"bearer"})", ""},
      {"no_colon", R"({"status" "401"})", ""},
      {"unterminated", R"({"status":"40)", "40"},
      {"control_bytes", "{\"status\":\"4\x01\x1b" "1\"}", "4??1"},
      {"endless_status", "{\"status\":\"" + std::string(10000, '9'), std::string(max_xoauth2_status, '9')},
      {"not_json", "hello", ""},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xoauth2_refusal_status(encode_base64(c.json)), c.status);
  }
  EXPECT_EQ(xoauth2_refusal_status("!!not base64 at all!!"), "");
}

}  // namespace
