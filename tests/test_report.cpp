// The reason of a failed check: which one a check keeps, when stderr hears
// it; and what the debug log prints of a line that carries a secret.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/report.h"

namespace {

using Checks = std::vector<std::vector<std::string>>;

// The reasons of each check in turn, and what stderr said over all of them.
std::string stderr_of(const Checks& checks) {
  testing::internal::CaptureStderr();
  for (const auto& reasons : checks) {
    report_begin();
    for (const auto& reason : reasons) report_failure(reason);
  }
  report_begin();  // the next test starts from a check with no reasons
  report_begin();
  return testing::internal::GetCapturedStderr();
}

TEST(Report, StderrHearsAReasonOnceWhileItPersists) {
  struct Case {
    const char* what;
    Checks checks;
    std::string said;
  } cases[] = {
      {"one failure", {{"host down"}}, "wyke: host down\n"},
      {"the same reason every check", {{"host down"}, {"host down"}, {"host down"}}, "wyke: host down\n"},
      {"twice in one check", {{"host down", "host down"}}, "wyke: host down\n"},
      {"back after a good check", {{"host down"}, {}, {"host down"}}, "wyke: host down\nwyke: host down\n"},
      {"a new reason", {{"host down"}, {"bad password"}}, "wyke: host down\nwyke: bad password\n"},
      {"no failure", {{}, {}}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(stderr_of(c.checks), c.said) << c.what;
}

TEST(Report, ACheckKeepsItsFirstReasonAndTheNextForgetsIt) {
  testing::internal::CaptureStderr();
  report_begin();
  EXPECT_EQ(report_reason(), "");
  report_failure("certificate expired");
  report_failure("connection closed");
  EXPECT_EQ(report_reason(), "certificate expired");
  report_begin();
  EXPECT_EQ(report_reason(), "");
  testing::internal::GetCapturedStderr();
}

TEST(DebugLog, SecretsNeverReachTheLog) {
  struct Case {
    const char* line;
    secret_in secret;
    const char* printed;
  } cases[] = {
      {"USER alice", secret_in::none, "USER alice"},
      {"PASS s3cr3t with blanks", secret_in::argument, "PASS ***"},
      {"AUTH XOAUTH2 dXNlcj1hbGljZQ==", secret_in::argument, "AUTH XOAUTH2 ***"},
      {"AUTH XOAUTH2", secret_in::argument, "AUTH XOAUTH2"},
      {"dXNlcj1hbGljZQFhdXRoPUJlYXJlciB0b2tlbgEB", secret_in::whole_line, "***"},
      {"PASS", secret_in::argument, "PASS"},
  };
  for (const Case& c : cases) EXPECT_EQ(debug_redacted(c.line, c.secret), c.printed) << c.line;
}

// A hostile server's bytes reach the terminal only as text: no escape
// sequence, bell or C1 control gets through; UTF-8 and tabs stay.
TEST(DebugLog, ControlCharactersFromTheServerAreShownEscaped) {
  const struct {
    std::string received;
    std::string printed;
  } cases[] = {
      {"+OK \x1b]0;owned\x07", "+OK \\x1b]0;owned\\x07"},
      {"-ERR \x1b[2Jgone", "-ERR \\x1b[2Jgone"},
      {"DEL\x7f", "DEL\\x7f"},
      {"C1 \xc2\x9b" "31m red", "C1 \\xc2\\x9b31m red"},
      {std::string("NUL\0end", 7), "NUL\\x00end"},
      {"Subject: Gr\xc3\xbc\xc3\x9f\xc2\xa0" "e", "Subject: Gr\xc3\xbc\xc3\x9f\xc2\xa0" "e"},
      {"From:\tann", "From:\tann"},
      {"cut \xc2", "cut \xc2"},
  };
  debug_log_enabled = true;
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    debug_received(c.received);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(" S: " + c.printed + "\n"), std::string::npos) << log;
  }
  debug_log_enabled = false;
}

}  // namespace
