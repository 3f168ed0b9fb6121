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

TEST(DebugLog, PrintsOnlyWhenEnabledAndStampsEachLine) {
  testing::internal::CaptureStderr();
  debug_sent("PASS hunter2", secret_in::argument);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  debug_log_enabled = true;
  testing::internal::CaptureStderr();
  debug_sent("PASS hunter2", secret_in::argument);
  debug_received("+OK logged in");
  const std::string log = testing::internal::GetCapturedStderr();
  debug_log_enabled = false;
  EXPECT_EQ(log.find("hunter2"), std::string::npos);
  EXPECT_NE(log.find(" C: PASS ***\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" S: +OK logged in\n"), std::string::npos) << log;
  EXPECT_EQ(log.rfind("wyke: ", 0), 0u) << log;
}

}  // namespace
