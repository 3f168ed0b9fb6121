// The POP3 session against a scripted server on the loopback of a private
// network: the exact exchange on the wire, the reading of lines and status
// replies, host texts, and servers that misbehave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netns.h"
#include "pop3.h"
#include "pop3_server.h"
#include "scripted_transport.h"
#include "pop3_account.h"
#include "temp_config.h"

// Counts each thread's send calls (a command line must leave in one write)
// and receive calls.
namespace {
thread_local int sends_on_this_thread = 0;
thread_local int receives_on_this_thread = 0;
}
extern "C" ssize_t send(int fd, const void* bytes, size_t length, int flags) {
  ++sends_on_this_thread;
  return syscall(SYS_sendto, fd, bytes, length, flags, nullptr, 0);
}
extern "C" ssize_t recv(int fd, void* bytes, size_t length, int flags) {
  ++receives_on_this_thread;
  return syscall(SYS_recvfrom, fd, bytes, length, flags, nullptr, nullptr);
}

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using wyke_test::ScriptedPop3Server;

constexpr auto bounded = 10s;  // no step of a test may wait longer

const Lines two_messages = {
    "From: Ann <ann@example.org>\r\nSubject: Lunch\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nbody\r\n",
    "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=\r\n\tcontinued\r\nFrom: bob@example.org\r\n",
};

class Pop3Test : public testing::Test {
 protected:
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    // Megabyte lines read byte by byte take seconds on a loaded machine.
    pop3_check_deadline_ms = 60 * 1000;
    account("127.0.0.1");
  }
  void TearDown() override { pop3_read_size = 4096; }

  void account(const std::string& host, const std::string& user = "alice",
               const std::string& password = "secret") {
    home.write("Mail/accounts", "[account]\nhost = " + host + "\nuser = " + user + "\npassword = " + password + "\n",
               0600);
  }
  void serve(const std::string& address = "127.0.0.1") {
    ASSERT_TRUE(server.start(address, pop3port)) << server.error();
  }
  // Every command line of the sessions so far, once they have ended.
  Lines log_after(int sessions = 1) {
    EXPECT_TRUE(server.wait_for_sessions(sessions, bounded));
    return server.log();
  }

  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
  ScriptedPop3Server server{two_messages};
};

// The lines of one multi-line response, up to the empty string.
Lines read_response(POP3& mes) {
  Lines lines;
  for (std::string p = mes.GetData(); !p.empty(); p = mes.GetData()) lines.push_back(p);
  return lines;
}

// The mail check's use of a session: every message's header, STAT before each.
Lines list_maildrop(POP3& mes) {
  Lines lines;
  for (int i = 1; i <= mes.GetMsgNum(); ++i) {
    if (mes.TOP(i, 0) != POP3::POP3_COMMAND_SUCSESS) continue;
    for (const std::string& line : read_response(mes)) lines.push_back(line);
  }
  return lines;
}

// --- The exchange on the wire ---------------------------------------------------

TEST_F(Pop3Test, GoodSessionSendsExactlyTheseLines) {
  serve();
  Lines lines;
  int sends = 0;
  {
    POP3 mes(0);
    sends_on_this_thread = 0;
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.GetLastCmd(), "") << "the PASS line is wiped once the login is over";
    ASSERT_EQ(mes.GetMsgNum(), 2);
    lines = list_maildrop(mes);
    EXPECT_EQ(mes.QUIT(), POP3::POP3_COMMAND_SUCSESS);
    sends = sends_on_this_thread;
  }
  EXPECT_EQ(lines, (Lines{"From: Ann <ann@example.org>\r\n", "Subject: Lunch\r\n",
                          "Date: Mon, 1 Jan 2024 10:00:00 +0000\r\n", "\r\n",
                          "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=\r\n", "\tcontinued\r\n", "From: bob@example.org\r\n",
                          "\r\n"}));
  const Lines log = log_after();
  EXPECT_EQ(log, (Lines{"USER alice", "PASS secret", "STAT", "STAT", "TOP 1 0", "STAT", "TOP 2 0", "STAT", "QUIT",
                        "QUIT"}));
  // The destructor's QUIT is not counted: it was sent after the count was taken.
  EXPECT_EQ(sends, static_cast<int>(log.size()) - 1) << "each command line goes out in one write";
}

// A server that answers the first QUIT and keeps the connection open would
// hold every check for a receive time-out if the second one were awaited.
TEST_F(Pop3Test, TheSecondQuitIsSentAndNeverAwaited) {
  server.set_maildrop({});
  server.go_silent_at(5);
  serve();
  {
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.GetMsgNum(), 0);
    EXPECT_EQ(mes.QUIT(), POP3::POP3_COMMAND_SUCSESS);
    receives_on_this_thread = 0;
  }
  EXPECT_EQ(receives_on_this_thread, 0) << "the destructor read from the connection";
  EXPECT_EQ(log_after(), (Lines{"USER alice", "PASS secret", "STAT", "QUIT", "QUIT"}));
}

TEST_F(Pop3Test, EmptyMaildropSendsStatAndQuit) {
  server.set_maildrop({});
  serve();
  {
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.GetMsgNum(), 0);
    EXPECT_EQ(mes.QUIT(), POP3::POP3_COMMAND_SUCSESS);
  }
  EXPECT_EQ(log_after(), (Lines{"USER alice", "PASS secret", "STAT", "QUIT", "QUIT"}));
}

struct LoginCase {
  const char* name;
  std::string user, password;
  std::string greeting;                  // empty: the server's usual one
  std::string command, reply;            // a scripted reply, when command is set
  status_t want;
  Lines log;                             // the QUIT of the check and the destructor's
};

const std::vector<LoginCase> login_cases = {
    {"accepted", "alice", "secret", "", "", "", POP3::POP3_COMMAND_SUCSESS,
     {"USER alice", "PASS secret", "QUIT", "QUIT"}},
    {"unknown_user_sends_no_pass", "bob", "secret", "", "", "", POP3::POP3_UNKNOWN_USER, {"USER bob", "QUIT", "QUIT"}},
    {"empty_user_name", "", "secret", "", "", "", POP3::POP3_UNKNOWN_USER, {"USER ", "QUIT", "QUIT"}},
    {"wrong_password", "alice", "guess", "", "", "", POP3::POP3_WRONG_PASSWORD,
     {"USER alice", "PASS guess", "QUIT", "QUIT"}},
    {"password_with_blanks_and_signs", "alice", "p a=ss#1", "", "", "", POP3::POP3_WRONG_PASSWORD,
     {"USER alice", "PASS p a=ss#1", "QUIT", "QUIT"}},
    {"negative_greeting_is_error", "alice", "secret", "-ERR busy\r\n", "", "", POP3::POP3_ERROR, {"QUIT", "QUIT"}},
    {"garbage_greeting", "alice", "secret", "\x01\x02hello\r\n", "", "", POP3::POP3_ERROR, {"QUIT", "QUIT"}},
    {"empty_greeting_line", "alice", "secret", "\r\n", "", "", POP3::POP3_ERROR, {"QUIT", "QUIT"}},
    {"lower_case_ok_is_error", "alice", "secret", "+ok ready\r\n", "", "", POP3::POP3_ERROR, {"QUIT", "QUIT"}},
    {"okay_counts_as_ok", "alice", "secret", "+OKAY ready\r\n", "", "", POP3::POP3_COMMAND_SUCSESS,
     {"USER alice", "PASS secret", "QUIT", "QUIT"}},
    {"garbage_answer_to_user", "alice", "secret", "", "USER", "what?\r\n", POP3::POP3_ERROR,
     {"USER alice", "QUIT", "QUIT"}},
    {"garbage_answer_to_pass", "alice", "secret", "", "PASS", "+ok\r\n", POP3::POP3_ERROR,
     {"USER alice", "PASS secret", "QUIT", "QUIT"}},
};

TEST_F(Pop3Test, LoginOutcomes) {
  for (std::size_t i = 0; i < login_cases.size(); ++i) {
    const LoginCase& c = login_cases[i];
    SCOPED_TRACE(c.name);
    ScriptedPop3Server one{two_messages};
    if (!c.greeting.empty()) one.set_greeting(c.greeting);
    if (!c.command.empty()) one.set_reply(c.command, c.reply);
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    account("127.0.0.1", c.user, c.password);
    {
      POP3 mes(0);
      EXPECT_EQ(mes.Connect(), c.want);
      mes.QUIT();
    }
    ASSERT_TRUE(one.wait_for_sessions(1, bounded));
    EXPECT_EQ(one.log(), c.log);
  }
}

TEST_F(Pop3Test, RejectedTopLeavesTheNextReplyInStep) {
  server.set_reply("TOP 1 0", "-ERR no such message\r\n");
  serve();
  {
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.TOP(1, 0), POP3::POP3_NG);
    EXPECT_EQ(mes.GetMsgNum(), 2);
    ASSERT_EQ(mes.TOP(2, 0), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.GetData(), "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=\r\n");
    EXPECT_EQ(mes.GetLastMesg(), "+OK\r\n") << "header lines never become the status line";
    read_response(mes);
    EXPECT_EQ(mes.NOOP(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.LIST(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(read_response(mes).size(), 2u);
  }
  EXPECT_EQ(log_after(),
            (Lines{"USER alice", "PASS secret", "TOP 1 0", "STAT", "TOP 2 0", "NOOP", "LIST", "QUIT"}));
}

TEST_F(Pop3Test, StatCountAboveTheMaildropEndsWithRejectedTops) {
  server.set_stat_count(3);
  serve();
  {
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(list_maildrop(mes).size(), 8u);
    mes.QUIT();
  }
  const Lines log = log_after();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(Lines(log.end() - 4, log.end()), (Lines{"TOP 3 0", "STAT", "QUIT", "QUIT"}));
}

TEST_F(Pop3Test, CommandTextsAndNumbers) {
  serve();
  {
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.TOP(-3, 0), POP3::POP3_NG);
    EXPECT_EQ(mes.TOP(12, 345), POP3::POP3_NG);
    EXPECT_EQ(mes.GetMsgNum(), 2);
    EXPECT_EQ(mes.GetMsgNum(), 2);
  }
  EXPECT_EQ(log_after(), (Lines{"USER alice", "PASS secret", "TOP -3 0", "TOP 12 345", "STAT", "STAT", "QUIT"}));
}

// --- Status replies: the message count ----------------------------------------

struct CountCase {
  const char* reply;
  int want;                  // GetMsgNum: 0 for every failure
  std::optional<int> count;  // MessageCount: nothing for a failure or no count
};

TEST_F(Pop3Test, MessageCountFromStatReplies) {
  const std::vector<CountCase> cases = {
      {"+OK 2 320\r\n", 2, 2},        {"+OK 0 0\r\n", 0, 0},          {"+OK\r\n", 0, {}},
      {"+OK two 320\r\n", 0, {}},     {"-ERR locked\r\n", 0, {}},     {"+OK -3 10\r\n", -3, {}},
      {"+OK   7\r\n", 7, 7},          {"+OK 5x\r\n", 5, 5},           {"+OKAY 4 1\r\n", 4, 4},
      {"+OK 99999999999 1\r\n", 0, {}}, {"ok 3 1\r\n", 0, {}},          {"+OK\t6 1\r\n", 6, 6},
      {"+OK 2147483647 1\r\n", 2147483647, 2147483647},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.reply);
    ScriptedPop3Server one{two_messages};
    one.set_reply("STAT", c.reply);
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.GetMsgNum(), c.want);
    EXPECT_EQ(mes.GetLastMesg(), c.reply);
    EXPECT_EQ(mes.MessageCount(), c.count);
    EXPECT_EQ(mes.GetLastMesg(), c.reply);
  }
}

// A command that reads nothing, on a session given up on after a time-out,
// leaves no older status line to be taken for its answer.
TEST_F(Pop3Test, CommandThatReadsNothingLeavesNoStatusLine) {
  pop3_receive_timeout_ms = 200;
  server.set_reply("TOP", "+OK\r\nSubject: x\r\n");
  serve();
  POP3 mes(0);
  ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
  ASSERT_EQ(mes.TOP(1, 0), POP3::POP3_COMMAND_SUCSESS);
  EXPECT_EQ(mes.GetData(), "Subject: x\r\n");
  EXPECT_EQ(mes.GetData(), "") << "the time-out";
  EXPECT_FALSE(mes.ResponseEnded());
  EXPECT_EQ(mes.MessageCount(), std::nullopt);
  EXPECT_EQ(mes.GetLastMesg(), "") << "not the answer to TOP";
}

// A status line cut by a close still counts by its prefix.
TEST_F(Pop3Test, StatusLineCutByCloseCountsByItsPrefix) {
  server.set_reply("STAT", "+OK 3 999\r\n");
  server.cut_reply(3, 5);
  serve();
  POP3 mes(0);
  ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
  EXPECT_EQ(mes.GetMsgNum(), 3);
  EXPECT_EQ(mes.GetLastMesg(), "+OK 3");
  EXPECT_EQ(mes.GetMsgNum(), 0) << "the closed connection fails the next STAT";
}

// --- Reading lines: every read size, bytes in one piece or trickled ----------

struct ReadMode {
  std::size_t read_size;
  bool trickled;
};

class Pop3ReadTest : public Pop3Test, public testing::WithParamInterface<ReadMode> {
 protected:
  void SetUp() override {
    Pop3Test::SetUp();
    if (IsSkipped()) return;
    pop3_read_size = GetParam().read_size;
  }
  // A server with this script, the session logged in.
  void serve_script(ScriptedPop3Server& one) {
    if (GetParam().trickled) one.trickle(50us);
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
  }
};

struct DataCase {
  const char* name;
  std::string top_reply;  // what the server answers TOP 1 0
  std::size_t cut;        // close after this many bytes of it (0: no cut)
  Lines want;             // GetData up to and including the first empty string
};

const std::vector<DataCase> data_cases = {
    {"stuffed_dot_blank_line_terminator", "+OK\r\nSubject: x\r\n..y\r\n\r\n.\r\n", 0,
     {"Subject: x\r\n", ".y\r\n", "\r\n", ""}},
    {"bare_lf_stays_inside", "+OK\r\nA: 1\nB: 2\r\n.\r\n", 0, {"A: 1\nB: 2\r\n", ""}},
    {"lone_cr_stays_inside", "+OK\r\nA\rB\r\n.\r\n", 0, {"A\rB\r\n", ""}},
    {"cr_cr_lf", "+OK\r\nA\r\r\n.\r\n", 0, {"A\r\r\n", ""}},
    {"stuffed_lone_dot_is_data", "+OK\r\n..\r\n.\r\n", 0, {".\r\n", ""}},
    {"single_dot_removed", "+OK\r\n.x\r\n.\r\n", 0, {"x\r\n", ""}},
    {"terminator_only", "+OK\r\n.\r\n", 0, {""}},
    {"close_in_mid_line", "+OK\r\nSubject: hello\r\nFrom: someb\r\n.\r\n", 32, {"Subject: hello\r\n", "From: someb", ""}},
    {"close_between_cr_and_lf", "+OK\r\nSubject: hello\r\n.\r\n", 20, {"Subject: hello\r", ""}},
};

TEST_P(Pop3ReadTest, GetDataLines) {
  for (const DataCase& c : data_cases) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server one{two_messages};
    one.set_reply("TOP", c.top_reply);
    if (c.cut != 0) one.cut_reply(3, c.cut);
    serve_script(one);
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    ASSERT_EQ(mes.TOP(1, 0), POP3::POP3_COMMAND_SUCSESS);
    Lines got;
    do got.push_back(mes.GetData());
    while (!got.back().empty() && got.size() <= c.want.size());
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(mes.ResponseEnded(), c.cut == 0) << "the empty string came from the \".\" line, not the close";
  }
}

// Bytes that came with one reply but belong to the next are the next reply's.
TEST_P(Pop3ReadTest, NothingIsLostBetweenCommands) {
  ScriptedPop3Server one{two_messages};
  one.set_reply("TOP", "-ERR no\r\n+OK 5 100\r\n");
  one.set_reply("STAT", "+OK 1 10\r\n");
  serve_script(one);
  POP3 mes(0);
  ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
  EXPECT_EQ(mes.TOP(1, 0), POP3::POP3_NG);
  EXPECT_EQ(mes.GetMsgNum(), 5);
  EXPECT_EQ(mes.NOOP(), POP3::POP3_COMMAND_SUCSESS);
  EXPECT_EQ(mes.GetLastMesg(), "+OK 1 10\r\n");
  EXPECT_EQ(mes.NOOP(), POP3::POP3_COMMAND_SUCSESS);
  EXPECT_EQ(mes.GetLastMesg(), "+OK\r\n");
}

TEST_P(Pop3ReadTest, WholeSessionGivesTheSameLines) {
  ScriptedPop3Server one{two_messages};
  serve_script(one);
  POP3 mes(0);
  ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
  const Lines lines = list_maildrop(mes);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[5], "\tcontinued\r\n");
}

INSTANTIATE_TEST_SUITE_P(ReadModes, Pop3ReadTest,
                         testing::Values(ReadMode{1, false}, ReadMode{4096, false}, ReadMode{1, true},
                                         ReadMode{4096, true}, ReadMode{7, true}),
                         [](const testing::TestParamInfo<ReadMode>& info) {
                           return "read" + std::to_string(info.param.read_size) +
                                  (info.param.trickled ? "_trickled" : "_whole");
                         });

// Whatever the length of a line, at most the bound is kept, the line still
// ends in CR LF, and the next line is read whole.
TEST_F(Pop3Test, HugeLinesAreBounded) {
  const std::string subject = "Subject: " + std::string(300 << 10, 's') + "\r\n";
  for (const std::size_t read_size : {std::size_t{1}, std::size_t{4096}}) {
    SCOPED_TRACE("read size " + std::to_string(read_size));
    pop3_read_size = read_size;
    ScriptedPop3Server one{{subject + "From: ann@example.org\r\n"}};
    one.huge_line_at(3, 1 << 20);  // the TOP status line
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    ASSERT_EQ(mes.TOP(1, 0), POP3::POP3_COMMAND_SUCSESS);
    const std::string status = mes.GetLastMesg();
    EXPECT_EQ(status.size(), pop3_max_line_length);
    EXPECT_EQ(status.substr(0, 4), "+OKx");
    EXPECT_EQ(status.substr(status.size() - 2), "\r\n");
    const std::string line = mes.GetData();
    EXPECT_EQ(line.size(), pop3_max_line_length);
    EXPECT_EQ(line.substr(0, 10), "Subject: s");
    EXPECT_EQ(line.substr(line.size() - 3), "s\r\n");
    EXPECT_EQ(mes.GetData(), "From: ann@example.org\r\n");
    EXPECT_EQ(mes.GetData(), "\r\n");
    EXPECT_EQ(mes.GetData(), "");
  }
}

// --- Hosts ------------------------------------------------------------------------

struct HostCase {
  std::string host;
  const char* listen;  // where the server runs; nullptr: nowhere
  status_t want;
};

TEST_F(Pop3Test, HostTexts) {
  const std::vector<HostCase> cases = {
      {"localhost", "127.0.0.1", POP3::POP3_COMMAND_SUCSESS},
      {"127.0.0.1", "127.0.0.1", POP3::POP3_COMMAND_SUCSESS},
      {"127.1", "127.0.0.1", POP3::POP3_COMMAND_SUCSESS},  // the resolver's own short form
      {"127.0.0.1.5", "127.0.0.1", POP3::POP3_COMMAND_SUCSESS},
      {"127.0.0.1.300", "127.0.0.1", POP3::POP3_COMMAND_SUCSESS},
      {"127.1.2.3.4", "127.1.2.3", POP3::POP3_COMMAND_SUCSESS},  // first number, first byte
      {"127.0.0.1", nullptr, POP3::POP3_SOCKET_ERROR},
      {"192.168.1.300", nullptr, POP3::POP3_UNKNOWN_HOST},
      {"127.0.0.256.1", nullptr, POP3::POP3_UNKNOWN_HOST},
      {"99999999999999999999.0.0.1.1", nullptr, POP3::POP3_UNKNOWN_HOST},
      {"", nullptr, POP3::POP3_UNKNOWN_HOST},
      {".1.2.3", nullptr, POP3::POP3_UNKNOWN_HOST},
      {"127..1", nullptr, POP3::POP3_UNKNOWN_HOST},
      {"127.0.0.x", nullptr, POP3::POP3_UNKNOWN_HOST},
      {"no-such-host", nullptr, POP3::POP3_UNKNOWN_HOST},
      {"bad host", nullptr, POP3::POP3_UNKNOWN_HOST},
  };
  for (const HostCase& c : cases) {
    SCOPED_TRACE("host \"" + c.host + "\"");
    ScriptedPop3Server one;
    if (c.listen != nullptr) {
      ASSERT_TRUE(one.start(c.listen, pop3port)) << one.error();
    }
    account(c.host);
    POP3 mes(0);
    EXPECT_EQ(mes.Connect(), c.want);
    if (c.want != POP3::POP3_COMMAND_SUCSESS) {
      EXPECT_EQ(mes.QUIT(), POP3::POP3_ERROR);
    }
  }
}

// --- Sessions that never got a socket ---------------------------------------

TEST_F(Pop3Test, NoAccountOpensNothingAndWritesNothing) {
  serve();
  home.write("Mail/accounts", "# no account yet\n", 0600);
  const int before = fcntl(0, F_GETFD);
  {
    POP3 mes(0);
    EXPECT_EQ(mes.Connect(), POP3::POP3_BAD_ACCOUNT_INDEX);
    EXPECT_EQ(mes.QUIT(), POP3::POP3_ERROR);
    EXPECT_EQ(mes.STAT(), POP3::POP3_ERROR);
    EXPECT_EQ(mes.GetMsgNum(), 0);
    EXPECT_EQ(mes.GetData(), "");
  }
  {
    POP3 never(0);
  }
  EXPECT_EQ(fcntl(0, F_GETFD), before) << "no descriptor the session did not open is closed";
  EXPECT_EQ(server.sessions_ended(), 0);
  EXPECT_TRUE(server.log().empty());
}

TEST_F(Pop3Test, AccountLookupErrorsPassThrough) {
  POP3 negative(-1);
  EXPECT_EQ(negative.Connect(), B_BAD_INDEX);
  EXPECT_EQ(POP3(1).Connect(), POP3::POP3_BAD_ACCOUNT_INDEX);
  home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = " + std::string(300, 'u') + "\n", 0600);
  EXPECT_EQ(POP3(0).Connect(), B_NAME_TOO_LONG);
}

// --- Servers that misbehave ---------------------------------------------------

// The session runs on another thread so that a broken time-out fails the
// test instead of hanging it: stopping the server frees the client.
template <class Session>
void expect_bounded(Session session, ScriptedPop3Server& server) {
  auto done = std::async(std::launch::async, session);
  const bool finished = done.wait_for(bounded) == std::future_status::ready;
  if (!finished) server.stop();
  EXPECT_TRUE(finished) << "the session outlived its time-outs";
}

TEST_F(Pop3Test, SilentServerTimesOutOnceAndGetsNothingMore) {
  pop3_receive_timeout_ms = 200;
  server.go_silent_at(0);
  serve();
  expect_bounded(
      [] {
        POP3 mes(0);
        EXPECT_EQ(mes.Connect(), POP3::POP3_ERROR);
        EXPECT_EQ(mes.QUIT(), POP3::POP3_ERROR);
      },
      server);
  EXPECT_TRUE(log_after().empty()) << "a time-out reads as a closed connection";
}

TEST_F(Pop3Test, ServerSilentAfterUserGetsNoPassword) {
  pop3_receive_timeout_ms = 200;
  server.go_silent_at(1);
  serve();
  expect_bounded([] { EXPECT_EQ(POP3(0).Connect(), POP3::POP3_ERROR); }, server);
  EXPECT_EQ(log_after(), Lines{"USER alice"});
}

TEST_F(Pop3Test, ConnectGivesUpWhenTheServerNeverAccepts) {
  pop3_connect_timeout_ms = 200;
  // A listener whose queue is full: the kernel drops further handshakes.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(pop3port);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  const int queued = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  auto done = std::async(std::launch::async, [] { return POP3(0).Connect(); });
  const bool finished = done.wait_for(bounded) == std::future_status::ready;
  close(listener);  // frees a hanging connect
  ASSERT_TRUE(finished);
  EXPECT_EQ(done.get(), POP3::POP3_SOCKET_ERROR);
  close(queued);
}

struct BreakCase {
  const char* name;
  int step;
  long keep;  // bytes of the reply sent before the close; -1: all of them
  status_t want;
};

// Closes at every point of the login; the writes after them must fail
// quietly (the test process would die of SIGPIPE otherwise).
TEST_F(Pop3Test, ConnectionClosedDuringLogin) {
  const std::vector<BreakCase> cases = {
      {"before_any_byte", 0, 0, POP3::POP3_ERROR},
      {"in_the_greeting", 0, 5, POP3::POP3_ERROR},
      {"after_greeting", 0, -1, POP3::POP3_ERROR},
      {"in_mid_user_reply", 1, 3, POP3::POP3_ERROR},
      {"after_user_reply", 1, -1, POP3::POP3_ERROR},
      {"after_login", 2, -1, POP3::POP3_COMMAND_SUCSESS},
  };
  for (const BreakCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPop3Server one{two_messages};
    if (c.keep < 0)
      one.close_after(c.step);
    else
      one.cut_reply(c.step, static_cast<std::size_t>(c.keep));
    ASSERT_TRUE(one.start("127.0.0.1", pop3port)) << one.error();
    POP3 mes(0);
    EXPECT_EQ(mes.Connect(), c.want);
    EXPECT_EQ(mes.GetMsgNum(), 0);
    EXPECT_EQ(mes.QUIT(), POP3::POP3_ERROR);
    EXPECT_EQ(mes.QUIT(), POP3::POP3_ERROR);
  }
}

TEST_F(Pop3Test, ServesOneCheckAfterAnother) {
  serve();
  for (int check = 0; check < 3; ++check) {
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(list_maildrop(mes).size(), 8u);
    mes.QUIT();
  }
  EXPECT_TRUE(server.wait_for_sessions(3, bounded));
  EXPECT_EQ(server.session_log(2), server.session_log(0));
}

// A QUIT that went with the last TOPs ends the session: a command after it
// would take QUIT's answer for its own, so it is not even sent. In memory:
// the "TLS" of the scripted transport lets the bytes through.
TEST(Pop3QuitAhead, NothingFollowsIt) {
  static std::string sent;
  static std::deque<std::string> script;
  sent.clear();
  script = {"+OK ready\r\n", "+OK\r\nPIPELINING\r\n.\r\n", "+OK\r\n+OK\r\n+OK 1 40\r\n",
            "+OK\r\nSubject: a\r\n.\r\n+OK bye\r\n", "+OK more\r\n"};
  struct Restore {
    pop3_transport_maker before = pop3_make_transport;
    ~Restore() { pop3_make_transport = before; }
  } restore;
  pop3_make_transport = [](pop_security, const transport_limits&) -> std::unique_ptr<Transport> {
    return std::make_unique<wyke_test::ScriptedTransport>(script, sent);
  };
  wyke_test::TempConfigHome home;
  home.write("Mail/accounts", "[account]\nhost = localhost\nuser = alice\npassword = secret\nsecurity = tls\n", 0600);
  {
    POP3 mes(0);
    ASSERT_EQ(mes.Connect(), POP3::POP3_COMMAND_SUCSESS);
    ASSERT_EQ(mes.MessageCount(), 1);
    ASSERT_EQ(mes.TOP(1, 0), POP3::POP3_COMMAND_SUCSESS);
    EXPECT_EQ(mes.GetData(), "Subject: a\r\n");
    EXPECT_EQ(mes.GetData(), "");
    EXPECT_EQ(mes.NOOP(), POP3::POP3_ERROR);
    EXPECT_EQ(mes.STAT(), POP3::POP3_ERROR);
  }
  EXPECT_EQ(sent, "<TLS>CAPA\r\nUSER alice\r\nPASS secret\r\nSTAT\r\nTOP 1 0\r\nQUIT\r\n");
}

}  // namespace
