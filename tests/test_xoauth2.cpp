// SASL XOAUTH2: the exact string a client signs in with, and the status
// read out of a server's refusal, whatever the server sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "netns.h"
#include "platform/base64.h"
#include "platform/debug_log.h"
#include "platform/report.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "temp_config.h"
#include "test_certs.h"
#include "wyke.h"
#include "xoauth2.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using wyke_test::ScriptedPop3Server;

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
      {"control_and_non_ascii_bytes", "{\"status\":\"4\x01\x1b" "1\xc3\xa9\"}", "4??1??"},
      {"endless_status", "{\"status\":\"" + std::string(10000, '9'), std::string(max_xoauth2_status, '9')},
      {"not_json", "hello", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xoauth2_refusal_status(encode_base64(c.json)), c.status);
  }
  EXPECT_EQ(xoauth2_refusal_status("!!not base64 at all!!"), "");
}

// --- Signing in over TLS against the scripted server ----------------------------

constexpr const char* token = "ya29.A-token_for/alice";
// The server checks the string itself; this is what the wire must carry.
constexpr const char* sasl_line = "dXNlcj1hbGljZQFhdXRoPUJlYXJlciB5YTI5LkEtdG9rZW5fZm9yL2FsaWNlAQE=";

class Xoauth2SignIn : public testing::Test {
 protected:
  void SetUp() override { WYKE_REQUIRE_PRIVATE_NETWORK(); }
  void TearDown() override {
    wyke_header.clear();
    debug_log_enabled = false;
  }

  // A TLS server on its own port and an account that trusts it.
  void serve(ScriptedPop3Server& server, const std::string& security) {
    const bool immediately = security == "tls";
    server.use_tls(immediately ? ScriptedPop3Server::TlsStart::immediately : ScriptedPop3Server::TlsStart::on_stls,
                   certs.good().certificate, certs.good().key);
    if (!immediately) server.set_capabilities({"STLS", "TOP"});
    ASSERT_TRUE(server.start("127.0.0.1", 0)) << server.error();
    home.write("Mail/accounts",
               "[account]\nhost = 127.0.0.1\nuser = alice\nauth = xoauth2\noauth_token_command = printf '%s\\n' " +
                   std::string(token) + "\nsecurity = " + security + "\nport = " + std::to_string(server.port()) +
                   "\ncafile = " + certs.ca() + "\n",
               0600);
  }

  wyke_test::TestCertificates certs;
  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
};

struct SignInCase {
  const char* name;
  std::string security;
  std::string server_token;  // the token the server accepts
  bool challenge;            // a refusal comes as a challenge holding JSON
  std::string auth_reply;    // scripted answer to AUTH, when set
  std::string text;
  Lines exchange;            // the session's lines from AUTH on, before STAT or QUIT
  std::string reason;
};

const std::vector<SignInCase> sign_in_cases = {
    {"accepted_over_tls", "tls", token, false, "", "Subject: Lunch", {"AUTH XOAUTH2", sasl_line}, ""},
    {"accepted_over_starttls", "starttls", token, false, "", "Subject: Lunch", {"AUTH XOAUTH2", sasl_line}, ""},
    {"refused_at_once", "tls", "another", false, "", "Wrong Password", {"AUTH XOAUTH2", sasl_line},
     "127.0.0.1 refused the access token: \"-ERR [AUTH] invalid token\""},
    {"refused_with_a_json_challenge", "tls", "another", true, "", "Wrong Password", {"AUTH XOAUTH2", sasl_line, ""},
     "127.0.0.1 refused the access token (status 401): \"-ERR [AUTH] authentication failed\""},
    {"mechanism_refused", "tls", token, false, "-ERR unknown mechanism\r\n", "Error", {"AUTH XOAUTH2"},
     "the server refused AUTH XOAUTH2: \"-ERR unknown mechanism\""},
    {"no_continuation", "tls", token, false, "hello\r\n", "Error", {"AUTH XOAUTH2"},
     "the server's answer to AUTH XOAUTH2 is not POP3: \"hello\""},
    {"signed_in_without_a_token", "tls", token, false, "+OK come in\r\n", "Error", {"AUTH XOAUTH2"},
     "127.0.0.1 answered AUTH XOAUTH2 without asking for the token: \"+OK come in\""},
};

TEST_F(Xoauth2SignIn, ExchangeAndVerdict) {
  for (const SignInCase& c : sign_in_cases) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server server{{"From: Ann <ann@example.org>\r\nSubject: Lunch\r\n"}};
    server.set_oauth_token(c.server_token);
    server.refuse_token_with_challenge(c.challenge);
    if (!c.auth_reply.empty()) server.set_reply("AUTH", c.auth_reply);
    serve(server, c.security);
    debug_log_enabled = true;
    testing::internal::CaptureStderr();
    WykeView::checkmail({"Subject:"});
    const std::string said = testing::internal::GetCapturedStderr();
    debug_log_enabled = false;

    EXPECT_EQ(wyke_header, c.text);
    EXPECT_EQ(report_reason(), c.reason);
    EXPECT_EQ(said.find(token), std::string::npos) << "the token never reaches stderr";
    EXPECT_EQ(said.find(sasl_line), std::string::npos) << "nor the SASL string: " << said;
    if (c.exchange.size() > 1) {
      EXPECT_NE(said.find("***"), std::string::npos) << "the debug log shows where it went: " << said;
    }
    ASSERT_TRUE(server.wait_for_sessions(1, 10s));
    const Lines log = server.log();
    const auto auth = std::find(log.begin(), log.end(), "AUTH XOAUTH2");
    ASSERT_NE(auth, log.end());
    EXPECT_EQ(std::count_if(log.begin(), auth, [](const std::string& l) { return l.starts_with("USER"); }), 0);
    const Lines exchange(auth, std::find_if(auth, log.end(), [](const std::string& l) {
                           return l == "STAT" || l == "QUIT";
                         }));
    EXPECT_EQ(exchange, c.exchange);
  }
}

}  // namespace
