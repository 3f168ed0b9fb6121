// The mail check against servers that misbehave: garbage, silence, lines of
// megabytes, counts of millions, answers that never end, connections cut in
// mid-line, bare LF and NUL bytes, broken encoded words. Whatever the server
// does, the check returns within its time-outs, holds little memory, and
// leaves a text that makes sense with a count that matches it: "Error" when
// the server never said how many messages there are, a last line saying so
// when the listing stopped short, and in both cases a reason that says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "mimetool.h"
#include "netns.h"
#include "pop3.h"
#include "platform/report.h"
#include "pop3_server.h"
#include "shown_field.h"
#include "pop3_account.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using wyke_test::ScriptedPop3Server;

// Far above the short time-outs below; reached only by a check that hangs.
constexpr auto bounded = 20s;
constexpr int short_timeout_ms = 300;
constexpr std::size_t ten_megabytes = 10 << 20;
// Past the longest line the client reads on.
constexpr std::size_t endless = 64 << 20;

const Lines default_headers = {"From:", "Subject:"};
const Lines two_messages = {
    "Received: from a by b\r\nFrom: Ann <ann@example.org>\r\nTo: you\r\nSubject: Lunch\r\n\r\nbody\r\n",
    "Subject: Report\r\nDate: today\r\nFrom: bob@example.org\r\n",
};
const std::string first_two = "From: Ann <ann@example.org>\nSubject: Lunch";
const std::string all_four = first_two + "\nSubject: Report\nFrom: bob@example.org";

// The first field of two_messages lengthened by filler to `size` bytes.
std::string long_from(std::size_t size) {
  std::string field = "From: Ann <ann@example.org>";
  field.resize(size, 'x');
  return field;
}

struct Outcome {
  int lines = -1;
  std::string text;
};

long status_kib(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(line.find(':') + 1));
  return -1;
}

// The peak resident size starts again from the current one.
bool reset_peak_memory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

class HostileServer : public testing::Test {
 protected:
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    pop3_connect_timeout_ms = short_timeout_ms;
    pop3_receive_timeout_ms = short_timeout_ms;
    pop3_check_deadline_ms = 60 * 1000;  // endless answers end at their bounds, not at the deadline
    home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = alice\npassword = secret\n", 0600);
  }
  void TearDown() override { wyke_header.clear(); }

  // One check on a thread of its own. A check still running after `bounded`
  // fails the test, and stopping the server then sets it free.
  static Outcome check(ScriptedPop3Server& server) {
    wyke_header = "left over from the last check";
    auto running = std::async(std::launch::async, [] { return WykeView::checkmail(default_headers); });
    if (running.wait_for(bounded) != std::future_status::ready) {
      ADD_FAILURE() << "the check did not return within " << bounded.count() << " s";
      server.stop();
    }
    Outcome outcome;
    outcome.lines = running.get();
    outcome.text = wyke_header;
    return outcome;
  }

  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
};

// Every outcome is one of the texts of a failure, the no-mail text, or
// fields the check asked for, none longer than a line may be, perhaps with
// the line that says the listing is incomplete last; and the count is the
// text's number of lines.
void expect_sensible(const Outcome& got) {
  if (got.lines == 0) {
    EXPECT_EQ(got.text, "");
    return;
  }
  EXPECT_EQ(got.lines, std::count(got.text.begin(), got.text.end(), '\n') + 1);
  if (got.text == "Error" || got.text == no_mail_text) return;
  std::istringstream lines(got.text);
  for (std::string line; std::getline(lines, line);) {
    if (line == incomplete_text) {
      EXPECT_EQ(lines.peek(), EOF) << "only last";
      continue;
    }
    EXPECT_TRUE(WykeView::header_check(line, default_headers)) << line.substr(0, 80);
    EXPECT_LE(line.size(), pop3_max_line_length);
  }
}

// --- The exchange, step by step ----------------------------------------------------

// Steps of a session with two_messages: 0 greeting, 1 USER, 2 PASS, 3 STAT,
// 4 STAT, 5 TOP 1 0, 6 STAT, 7 TOP 2 0, 8 STAT, 9 QUIT.
const std::size_t received_line = std::string("Received: from a by b\r\n").size();

struct HostileCase {
  const char* name;
  std::function<void(ScriptedPop3Server&)> script;
  std::string text;
  int lines;
  // A part of the check's reason; "" when it must give none, nullptr for a
  // session that failed before its login ended (its reason is not the
  // listing's).
  const char* reason;
  bool memory = false;  // the client's peak memory is measured
};

// What a listing that stopped short says, after what it gathered.
const std::string incomplete = incomplete_text;

const std::vector<HostileCase> hostile_cases = {
    // Garbage
    {"binary_greeting", [](auto& s) { s.set_greeting(std::string("\x16\x03\x01\x00\xff\r\n", 7)); }, "Error", 1,
     nullptr},
    {"greeting_without_line_end", [](auto& s) { s.set_greeting("\x01\x02 no line end"); }, "Error", 1, nullptr},
    {"garbage_answer_to_user", [](auto& s) { s.set_reply("USER", "\xff\xfe\r\n"); }, "Error", 1, nullptr},
    {"garbage_answer_to_stat", [](auto& s) { s.set_reply("STAT", "?? 2 320\r\n"); }, "Error", 1,
     "cannot count the messages: the server's answer to STAT is not POP3: \"?? 2 320\""},
    {"escapes_in_refused_stat", [](auto& s) { s.set_reply("STAT", "-ERR \x1b]0;owned\x07 \xc3\xa9\r\n"); }, "Error",
     1, "the server refused STAT: \"-ERR ?]0;owned? ??\""},
    {"long_refusal_of_stat", [](auto& s) { s.set_reply("STAT", "-ERR " + std::string(200, 'w') + "\r\n"); },
     "Error", 1,
     "the server refused STAT: \"-ERR wwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww"
     "...\""},
    {"garbage_answer_to_every_top", [](auto& s) { s.set_reply("TOP", "#!\r\n"); }, incomplete, 1,
     "at message 1 of 2: the server's answer to TOP 1 0 is not POP3: \"#!\""},
    // Counts that are no counts of messages.
    {"count_missing", [](auto& s) { s.set_reply("STAT", "+OK abc\r\n"); }, "Error", 1,
     "the server's answer to STAT holds no message count: \"+OK abc\""},
    {"count_negative", [](auto& s) { s.set_reply("STAT", "+OK -1 0\r\n"); }, "Error", 1, "no message count"},
    {"count_beyond_int", [](auto& s) { s.set_reply("STAT", "+OK 99999999999 1\r\n"); }, "Error", 1,
     "no message count"},
    // Silence from each step on: one time-out, then the session is over.
    {"silent_greeting", [](auto& s) { s.go_silent_at(0); }, "Error", 1, nullptr},
    {"silent_after_user", [](auto& s) { s.go_silent_at(1); }, "Error", 1, nullptr},
    {"silent_after_pass", [](auto& s) { s.go_silent_at(2); }, "Error", 1, nullptr},
    {"silent_after_first_stat", [](auto& s) { s.go_silent_at(3); }, "Error", 1,
     "cannot count the messages: the server closed the connection or stopped answering at STAT"},
    {"silent_after_second_stat", [](auto& s) { s.go_silent_at(4); }, incomplete, 1,
     "listing incomplete at message 1 of 2: the server closed the connection or stopped answering at STAT"},
    {"silent_after_first_top", [](auto& s) { s.go_silent_at(5); }, incomplete, 1, "at message 1 of 2: "},
    {"silent_between_messages", [](auto& s) { s.go_silent_at(6); }, first_two + "\n" + incomplete, 3,
     "at message 2 of 2: the server closed the connection or stopped answering at STAT"},
    {"silent_after_second_top", [](auto& s) { s.go_silent_at(7); }, first_two + "\n" + incomplete, 3,
     "at message 2 of 2: the server closed the connection or stopped answering at TOP 2 0"},
    // Every message was listed: only the STAT that ends the listing is lost.
    {"silent_after_last_stat", [](auto& s) { s.go_silent_at(8); }, all_four, 4, ""},
    {"silent_after_quit", [](auto& s) { s.go_silent_at(9); }, all_four, 4, ""},
    {"trickling_slower_than_the_time_out", [](auto& s) { s.trickle(std::chrono::milliseconds(2 * short_timeout_ms)); },
     "Error", 1, nullptr},
    {"trickling_within_the_time_out", [](auto& s) { s.trickle(50us); }, all_four, 4, ""},
    // Lines of ten megabytes are read through, and only their start is kept.
    {"ten_megabyte_greeting", [](auto& s) { s.huge_line_at(0, ten_megabytes); }, all_four, 4, "", true},
    {"ten_megabyte_stat_answer", [](auto& s) { s.huge_line_at(3, ten_megabytes); }, all_four, 4, "", true},
    {"ten_megabyte_header_line", [](auto& s) { s.huge_line_at(5, ten_megabytes, 2); },
     long_from(pop3_max_line_length - 2) + all_four.substr(all_four.find('\n')), 4, "", true},
    // A line that never ends ends the session where the client stops reading.
    {"endless_greeting", [](auto& s) { s.huge_line_at(0, endless); }, "Error", 1, "ran past 16 MB without its end",
     true},
    {"endless_header_line", [](auto& s) { s.huge_line_at(5, endless, 2); },
     long_from(pop3_max_line_length) + "\n" + incomplete, 2, "ran past 16 MB without its end", true},
    // Answers to TOP that never end: the message is left out, the listing ends.
    {"endless_top_answer", [](auto& s) { s.flood_at(7, "X-Filler: y\r\n", endless); },
     first_two + "\n" + incomplete, 3, "at message 2 of 2: the answer to TOP 2 0 ran past 4194304 bytes", true},
    {"endless_chosen_fields", [](auto& s) { s.flood_at(7, "From: again\r\n", endless); },
     first_two + "\n" + incomplete, 3, "the answer to TOP 2 0 ran past"},
    {"endless_blank_lines", [](auto& s) { s.flood_at(5, "\r\n", endless); }, incomplete, 1,
     "the answer to TOP 1 0 ran past", true},
    // Connections closed in mid-line at each step.
    {"cut_in_greeting_prefix", [](auto& s) { s.cut_reply(0, 2); }, "Error", 1, nullptr},
    {"cut_in_greeting_after_ok", [](auto& s) { s.cut_reply(0, 5); }, "Error", 1, nullptr},
    {"cut_in_user_answer", [](auto& s) { s.cut_reply(1, 6); }, "Error", 1, nullptr},
    {"cut_in_pass_answer", [](auto& s) { s.cut_reply(2, 6); }, "Error", 1,
     "cannot count the messages: the server closed the connection or stopped answering at STAT"},
    {"cut_in_stat_before_count", [](auto& s) { s.cut_reply(3, 4); }, "Error", 1, "no message count: \"+OK \""},
    {"cut_in_stat_after_count", [](auto& s) { s.cut_reply(3, 5); }, incomplete, 1, "at message 1 of 2: "},
    {"cut_in_second_stat", [](auto& s) { s.cut_reply(4, 5); }, incomplete, 1, "at message 1 of 2: "},
    {"cut_in_top_status_line", [](auto& s) { s.cut_reply(5, 2); }, incomplete, 1,
     "at message 1 of 2: the server's answer to TOP 1 0 is not POP3: \"+O\""},
    {"cut_in_a_header_line", [](auto& s) { s.cut_reply(5, 5 + received_line + 9); }, "From: Ann\n" + incomplete, 2,
     "at message 1 of 2: the server closed the connection or stopped answering in the answer to TOP 1 0"},
    {"cut_in_stat_between_messages", [](auto& s) { s.cut_reply(6, 5); }, first_two + "\n" + incomplete, 3,
     "at message 2 of 2: "},
    {"cut_in_last_stat", [](auto& s) { s.cut_reply(8, 5); }, all_four, 4, ""},
    {"cut_in_quit_answer", [](auto& s) { s.cut_reply(9, 3); }, all_four, 4, ""},
    // Bare LF ends no line: the client waits for CR LF until its time-out,
    // and says why the answer never ended.
    {"bare_lf_greeting", [](auto& s) { s.set_greeting("+OK ready\n"); }, "Error", 1, "lines with LF alone"},
    {"bare_lf_stat_answer", [](auto& s) { s.set_reply("STAT", "+OK 2 320\n"); }, incomplete, 1,
     "lines with LF alone"},
    {"bare_lf_top_answer", [](auto& s) { s.set_reply("TOP 1 0", "+OK\nFrom: a\nSubject: b\n.\n"); }, incomplete, 1,
     "lines with LF alone"},
    // NUL bytes are bytes like any other.
    {"nul_in_greeting", [](auto& s) { s.set_greeting(std::string("+OK\0ready\r\n", 11)); }, all_four, 4, ""},
    {"nul_in_header_lines",
     [](auto& s) {
       s.set_stat_count(1);
       s.set_reply("TOP 1 0", std::string("+OK\r\nFrom: a\0b\r\nSubject: \0\r\n\t\0\r\n.\r\n", 35));
     },
     std::string("From: a\0b\nSubject: \0 \0", 22), 2, ""},
};


TEST_F(HostileServer, EveryMisbehaviourEndsInASensibleText) {
  for (const HostileCase& c : hostile_cases) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server server{two_messages};
    c.script(server);
    ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
    const long before_kib = status_kib("VmRSS:");
    const bool measured = c.memory && reset_peak_memory();
    const Outcome got = check(server);
    EXPECT_EQ(got.text.size(), c.text.size());
    EXPECT_TRUE(got.text == c.text) << got.text.substr(0, 200);
    EXPECT_EQ(got.lines, c.lines);
    if (c.reason != nullptr && *c.reason == '\0') {
      EXPECT_EQ(report_reason(), "");
    } else if (c.reason != nullptr) {
      EXPECT_NE(report_reason().find(c.reason), std::string::npos) << report_reason();
    }
    expect_sensible(got);
    if (measured) {
      const long grown_kib = status_kib("VmHWM:") - before_kib;
      EXPECT_LT(grown_kib, 4 * 1024) << "KiB more at the peak than before the check";
    }
  }
}

// --- Counts far above the maildrop -------------------------------------------------

TEST_F(HostileServer, ClaimedMillionsEndAfterARunOfRefusalsAndSayItIsIncomplete) {
  for (const int claimed : {1000 * 1000, INT_MAX}) {
    SCOPED_TRACE(claimed);
    ScriptedPop3Server server{two_messages};
    server.set_stat_count(claimed);
    ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
    const Outcome got = check(server);
    EXPECT_EQ(got.text, all_four + "\n" + incomplete);
    EXPECT_EQ(got.lines, 5);
    EXPECT_NE(report_reason().find("after message 102 of " + std::to_string(claimed) + ": the server refused TOP"),
              std::string::npos)
        << report_reason();
    ASSERT_TRUE(server.wait_for_sessions(1, bounded));
    const Lines log = server.log();
    const std::string last_top = "TOP " + std::to_string(2 + max_refused_in_a_row) + " 0";
    EXPECT_EQ(log.size(), 3 + 2 * (2 + max_refused_in_a_row) + 2u);
    EXPECT_EQ(Lines(log.end() - 3, log.end()), (Lines{last_top, "QUIT", "QUIT"}));
  }
}

TEST_F(HostileServer, RefusalsShortOfTheRunAreSkippedAsEver) {
  Lines maildrop(max_refused_in_a_row, "Subject: refused\r\n");
  maildrop.push_back("Subject: listed\r\n");
  ScriptedPop3Server server{maildrop};
  for (int i = 1; i < max_refused_in_a_row; ++i) server.set_reply("TOP " + std::to_string(i) + " 0", "-ERR gone\r\n");
  ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
  const Outcome got = check(server);
  EXPECT_EQ(got.text, "Subject: refused\nSubject: listed");
  EXPECT_EQ(got.lines, 2);
  ASSERT_TRUE(server.wait_for_sessions(1, bounded));
  const Lines log = server.log();
  EXPECT_EQ(Lines(log.end() - 5, log.end()),
            (Lines{"STAT", "TOP " + std::to_string(max_refused_in_a_row + 1) + " 0", "STAT", "QUIT", "QUIT"}))
      << "the whole maildrop, ended by its own count";
}

// --- A text that would outgrow any window ---------------------------------------

TEST_F(HostileServer, TextStopsGrowingPastItsBound) {
  const std::string field = "Subject: " + std::string(60000, 's');
  ScriptedPop3Server server;
  server.set_stat_count(1000);
  server.set_reply("TOP", "+OK\r\n" + field + "\r\n.\r\n");
  ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
  const Outcome got = check(server);
  // n fields take n * (size + 1) - 1 bytes: the first n that reach the bound,
  // then the line that says the listing is incomplete.
  const int needed = static_cast<int>((max_text_bytes + field.size() + 1) / (field.size() + 1));
  EXPECT_EQ(got.lines, needed + 1);
  const std::string::size_type marker = got.text.rfind('\n');
  ASSERT_NE(marker, std::string::npos);
  EXPECT_EQ(got.text.substr(marker + 1), incomplete);
  EXPECT_GE(marker, max_text_bytes);
  EXPECT_LT(marker, max_text_bytes + field.size() + 1);
  EXPECT_NE(report_reason().find("the list reached"), std::string::npos) << report_reason();
  expect_sensible(got);
  ASSERT_TRUE(server.wait_for_sessions(1, bounded));
  const Lines log = server.log();
  EXPECT_EQ(log[log.size() - 3], "TOP " + std::to_string(needed) + " 0") << "no message after the bound";
}

// --- Broken encoded words ------------------------------------------------------------

TEST_F(HostileServer, BrokenEncodedWordsStayInTheirField) {
  const Lines subjects = {
      "Subject: =?UTF-8?B?####?=",          "Subject: =?no-such?Q?x?= rest",
      "Subject: =?UTF-8?X?abc?=",           "Subject: =?UTF-8?Q?a=ZZ=?=",
      "Subject: =?UTF-8?B?/w==?=",          "Subject: =?UTF-8?Q?no end",
      "Subject: =?=?=?=?" "?==?",              "Subject: =?ISO-2022-JP?B?GyRC?=",
      "Subject: =?ISO-8859-1?Q?=0A=0D=00?=",
  };
  Lines maildrop;
  std::string expected;
  for (const std::string& subject : subjects) {
    maildrop.push_back(subject + "\r\n =?UTF-8?Q?=C3?=\r\n");
    if (!expected.empty()) expected += '\n';
    expected += shown_field(decode_header(subject + " =?UTF-8?Q?=C3?="));
  }
  ScriptedPop3Server server{maildrop};
  ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
  const Outcome got = check(server);
  EXPECT_EQ(got.lines, static_cast<int>(subjects.size()));
  EXPECT_EQ(got.text, expected);
  expect_sensible(got);
}

// --- The accounts file ---------------------------------------------------------------

TEST_F(HostileServer, AccountsOthersMayReadGiveErrorAndOneHint) {
  home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = alice\npassword = secret\n", 0644);
  ScriptedPop3Server server{two_messages};
  ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
  testing::internal::CaptureStderr();
  const Outcome first = check(server);
  const Outcome second = check(server);
  const std::string said = testing::internal::GetCapturedStderr();
  for (const Outcome& got : {first, second}) {
    EXPECT_EQ(got.text, "Error");
    EXPECT_EQ(got.lines, 1);
  }
  const std::string hint = "chmod 600 " + home.path("Mail/accounts");
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find(hint), std::string::npos) << said;
  EXPECT_TRUE(server.log().empty()) << "no password goes out from a file others may read";
}

}  // namespace
