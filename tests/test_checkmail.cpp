// One mail check against a scripted server, with no application and no
// window: the notifier text and line count it builds, the lines it keeps and
// joins, every failure text, and the exact exchange on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "netns.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using wyke_test::ScriptedPop3Server;
using wyke_test::write_account;

constexpr auto bounded = 10s;
const Lines default_headers = {"From:", "Subject:"};

const Lines two_messages = {
    "Received: from a by b\r\nFrom: Ann <ann@example.org>\r\nTo: you\r\nSubject: Lunch\r\n\r\nbody\r\n",
    "Subject: Report\r\nDate: today\r\nFrom: bob@example.org\r\n",
};

class Checkmail : public testing::Test {
 protected:
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    write_account(home, "127.0.0.1");
  }
  void TearDown() override { wyke_header.clear(); }

  void serve() { ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error(); }
  int check(const Lines& headers = default_headers) {
    wyke_header = "left over from the last check";
    return WykeView::checkmail(headers);
  }
  Lines log_after() {
    EXPECT_TRUE(server.wait_for_sessions(1, bounded));
    return server.log();
  }

  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
  ScriptedPop3Server server{two_messages};
};

// The count always matches the lines of the text it stands for.
void expect_count_matches_text(int lines) {
  if (lines == 0) {
    EXPECT_EQ(wyke_header, "");
    return;
  }
  EXPECT_EQ(lines, std::count(wyke_header.begin(), wyke_header.end(), '\n') + 1) << wyke_header;
}

// --- What the text holds ---------------------------------------------------------

struct ListingCase {
  const char* name;
  Lines maildrop;
  Lines headers;
  std::string text;
  int lines;
};

const std::vector<ListingCase> listing_cases = {
    {"two_messages_give_four_lines_in_server_order", two_messages, default_headers,
     "From: Ann <ann@example.org>\nSubject: Lunch\nSubject: Report\nFrom: bob@example.org", 4},
    {"list_order_does_not_matter", two_messages, {"Subject:", "From:"},
     "From: Ann <ann@example.org>\nSubject: Lunch\nSubject: Report\nFrom: bob@example.org", 4},
    {"folded_subject_keeps_its_blanks_a_tab_as_a_space", {"Subject: Hello\r\n World\r\n\t \tagain\r\n"},
     default_headers, "Subject: Hello World   again", 1},
    {"encoded_words_split_across_lines_join", {"Subject: =?ISO-8859-1?Q?Gr=FC?=\r\n =?ISO-8859-1?Q?=DFe?=\r\n"},
     default_headers, "Subject: Gr\xc3\xbc\xc3\x9f" "e", 1},
    {"field_names_in_any_case_as_spelt", {"subject: quiet\r\nFROM: loud\r\nFrom: shown\r\nFrom  x\r\n"},
     default_headers, "subject: quiet\nFROM: loud\nFrom: shown", 3},
    {"continuation_of_a_dropped_line_is_dropped", {"Date: Mon,\r\n 1 Jan\r\nTo: a,\r\n\tFrom: b\r\nSubject: s\r\n"},
     default_headers, "Subject: s", 1},
    {"blank_continuation_changes_nothing", {"Subject: one\r\n  \t \r\nFrom: two\r\n"}, default_headers,
     "Subject: one\nFrom: two", 2},
    {"prefix_entry_matches_longer_fields", {"Subject: a\r\nSubscribe: b\r\nSup: c\r\n"}, {"Sub"},
     "Subject: a\nSubscribe: b", 2},
    {"entry_longer_than_the_line", {"From\r\n"}, {"From:"}, "", 0},
    {"empty_entry_keeps_every_line_and_the_blank_one", {"A: 1\r\n"}, {""}, "A: 1\n", 2},
    {"no_chosen_field_gives_no_line", {"Date: today\r\n", "To: you\r\n"}, default_headers, "", 0},
    {"encoded_line_break_stays_inside_its_field", {"Subject: =?UTF-8?Q?a=0D=0AFrom:_boss?=\r\n"}, default_headers,
     "Subject: a  From: boss", 1},
    {"an_empty_first_field_still_counts_as_a_line",
     {"=?UTF-8?Q?" "?=\r\n=?UTF-8?Q?second?=\r\n"}, {"=?"}, "\nsecond", 2},
};

TEST_F(Checkmail, ListsTheChosenFieldsOfEveryMessage) {
  for (const ListingCase& c : listing_cases) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server one{c.maildrop};
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    const int lines = check(c.headers);
    EXPECT_EQ(wyke_header, c.text);
    EXPECT_EQ(lines, c.lines);
    expect_count_matches_text(lines);
  }
}

TEST_F(Checkmail, EmptyMaildropShowsTheNoMailLine) {
  server.set_maildrop({});
  serve();
  EXPECT_EQ(check(), 1);
  EXPECT_EQ(wyke_header, "You have no mail in your maildrop.");
  EXPECT_EQ(log_after(), (Lines{"USER alice", "PASS secret", "STAT", "QUIT", "QUIT"}));
}

TEST_F(Checkmail, SendsStatBeforeEveryMessageAndQuitsOnce) {
  serve();
  EXPECT_EQ(check(), 4);
  EXPECT_EQ(log_after(), (Lines{"USER alice", "PASS secret", "STAT", "STAT", "TOP 1 0", "STAT", "TOP 2 0", "STAT",
                                "QUIT", "QUIT"}))
      << "the second QUIT is the session's own farewell";
}

// --- Failures ---------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::string host;   // of the account; empty: no accounts file at all
  std::string user;
  std::string command, reply;  // a scripted reply, when command is set
  bool serve;
  std::string text;
  Lines log;
};

const std::vector<FailureCase> failure_cases = {
    {"unknown_host", "bad host", "alice", "", "", true, "Unknown Host", {}},
    {"unknown_user", "127.0.0.1", "bob", "", "", true, "Unknown User", {"USER bob", "QUIT", "QUIT"}},
    {"wrong_password", "127.0.0.1", "alice", "PASS", "-ERR no\r\n", true, "Wrong Password",
     {"USER alice", "PASS secret", "QUIT", "QUIT"}},
    {"no_account", "", "", "", "", true, "Error", {}},
    {"nobody_listening", "127.0.0.1", "alice", "", "", false, "Error", {}},
    {"garbage_greeting", "127.0.0.1", "alice", "greeting", "hello\r\n", true, "Error", {"QUIT", "QUIT"}},
    {"failed_stat_is_no_empty_maildrop", "127.0.0.1", "alice", "STAT", "-ERR busy\r\n", true, "Error",
     {"USER alice", "PASS secret", "STAT", "QUIT", "QUIT"}},
};

TEST_F(Checkmail, EveryFailureBecomesOneLineOfText) {
  for (const FailureCase& c : failure_cases) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server one{two_messages};
    if (c.command == "greeting")
      one.set_greeting(c.reply);
    else if (!c.command.empty())
      one.set_reply(c.command, c.reply);
    if (c.serve) {
      ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    }
    if (c.host.empty())
      home.write("Mail/accounts", "# no account yet\n", 0600);
    else
      write_account(home, c.host, c.user);
    EXPECT_EQ(check(), 1);
    EXPECT_EQ(wyke_header, c.text);
    if (!c.log.empty()) {
      ASSERT_TRUE(one.wait_for_sessions(1, bounded));
      EXPECT_EQ(one.log(), c.log);
    }
  }
}

TEST_F(Checkmail, SilentServerTimesOutIntoError) {
  pop3_receive_timeout_ms = 200;
  server.go_silent_at(0);
  serve();
  EXPECT_EQ(check(), 1);
  EXPECT_EQ(wyke_header, "Error");
}

TEST_F(Checkmail, RejectedTopSkipsItsMessageWithoutATrace) {
  server.set_reply("TOP 1 0", "-ERR gone\r\n");
  serve();
  EXPECT_EQ(check(), 2);
  EXPECT_EQ(wyke_header, "Subject: Report\nFrom: bob@example.org");
  EXPECT_EQ(log_after(), (Lines{"USER alice", "PASS secret", "STAT", "STAT", "TOP 1 0", "STAT", "TOP 2 0", "STAT",
                                "QUIT", "QUIT"}));
}

TEST_F(Checkmail, EveryTopRejectedGivesNoLine) {
  server.set_reply("TOP", "-ERR gone\r\n");
  serve();
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(wyke_header, "");
}

// Steps of the session: 0 greeting, 1 USER, 2 PASS, 3 STAT, 4 STAT, 5 TOP 1 0,
// 6 STAT, 7 TOP 2 0.
struct BreakCase {
  const char* name;
  int step;
  std::size_t keep;  // bytes of that reply that go out before the close
  std::string text;
  int lines;
};

const std::vector<BreakCase> break_cases = {
    {"between_messages", 6, 0, "From: Ann <ann@example.org>\nSubject: Lunch\n(listing incomplete)", 3},
    {"after_the_status_line", 7, 5, "From: Ann <ann@example.org>\nSubject: Lunch\n(listing incomplete)", 3},
    {"after_a_whole_line", 7, 5 + 17,
     "From: Ann <ann@example.org>\nSubject: Lunch\nSubject: Report\n(listing incomplete)", 4},
    {"in_mid_line_keeps_the_part_as_a_line", 7, 5 + 11,
     "From: Ann <ann@example.org>\nSubject: Lunch\nSubject: Re\n(listing incomplete)", 4},
    {"between_cr_and_lf", 7, 5 + 16,
     "From: Ann <ann@example.org>\nSubject: Lunch\nSubject: Report\n(listing incomplete)", 4},
};

TEST_F(Checkmail, BrokenConnectionKeepsWhatWasGatheredAndSaysItIsIncomplete) {
  for (const BreakCase& c : break_cases) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server one{two_messages};
    one.cut_reply(c.step, c.keep);
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    const int lines = check();
    EXPECT_EQ(wyke_header, c.text);
    EXPECT_EQ(lines, c.lines);
    expect_count_matches_text(lines);
  }
}

TEST_F(Checkmail, RawLineBreakInsideALineStaysInItsField) {
  server.set_reply("TOP 1 0", "+OK\r\nSubject: a\nFrom: boss\r\nFrom: real\r\n.\r\n");
  server.set_stat_count(1);
  serve();
  EXPECT_EQ(check(), 2);
  EXPECT_EQ(wyke_header, "Subject: a From: boss\nFrom: real");
}

}  // namespace
