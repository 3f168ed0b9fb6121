// IMAP checks against hostile and ordinary answers, through an in-memory
// transport: one table of sessions, each the server's words as the client
// reads them, what the notifier shows, what went out and what must not.
// Whatever the server says, the client never sends a command that changes
// the mailbox. Mailbox names in modified UTF-7 beside them, and the
// response reader fed in receives of every size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "account_check.h"
#include "idle_listing.h"
#include "imap_reader.h"
#include "imap_strings.h"
#include "listing.h"
#include "platform/report.h"
#include "pop3.h"
#include "scripted_transport.h"
#include "xoauth2.h"
#include "platform/debug_log.h"
#include "temp_config.h"

namespace {

using wyke_test::ScriptedTransport;

const std::vector<std::string> headers = {"From:", "Subject:"};

// Appended, not "a" + ...: GCC 12 at -O3 takes that for an overlapping copy.
std::string tag(int n) {
  std::string t = "a";
  t += std::to_string(n);
  t += ' ';
  return t;
}

const std::string greeting = "* OK [CAPABILITY IMAP4rev1 LITERAL+ IDLE STARTTLS] ready\r\n";
const std::string kept_greeting = "* OK [CAPABILITY IMAP4rev1 LITERAL+ SEARCHRES ESEARCH] ready\r\n";

std::string header(const std::string& from, const std::string& subject) {
  return "Received: by mx\r\nFrom: " + from + "\r\nSubject: " + subject + "\r\n\tfolded\r\nTo: a@x\r\n\r\n";
}
std::string fetch(int seq, int uid, const std::string& h) {
  return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " BODY[HEADER] {" +
         std::to_string(h.size()) + "}\r\n" + h + ")\r\n";
}
const std::string two = fetch(1, 2, header("Ann <a@x>", "two"));
const std::string four = fetch(2, 4, header("Bob <b@x>", "four"));
const std::string listed_two = "From: Ann <a@x>\nSubject: two folded";
const std::string listed_both = listed_two + "\nFrom: Bob <b@x>\nSubject: four folded";

// LOGIN, EXAMINE and UID SEARCH answered, their tags from `first` on.
std::string signed_in(int first, const std::string& search = "* SEARCH 4 2\r\n") {
  return tag(first) + "OK logged in\r\n* 3 EXISTS\r\n* OK [UIDVALIDITY 7] ok\r\n" + tag(first + 1) +
         "OK [READ-ONLY] done\r\n" + search + tag(first + 2) + "OK searched\r\n";
}
std::string logout(int t) { return "* BYE logging out\r\n" + tag(t) + "OK bye\r\n"; }

struct session_case {
  const char* name;
  const char* security;
  std::deque<std::string> script;
  std::string shown;
  std::vector<std::string> sent;     // each must have gone out
  std::vector<std::string> unsent;   // none of these may
  std::string reason;                // in the reason; "" for none
  const char* password = "secret";
  const char* keys = "";             // more keys of the account
};

void PrintTo(const session_case& c, std::ostream* out) { *out << c.name; }

class ImapSession : public testing::TestWithParam<session_case> {
 protected:
  void SetUp() override { pop3_make_transport = make; }
  void TearDown() override { pop3_make_transport = make_transport_before; }

  static std::unique_ptr<Transport> make(pop_security, const transport_limits&) {
    return std::make_unique<ScriptedTransport>(script, sent);
  }
  static inline std::deque<std::string> script;
  static inline std::string sent;
  pop3_transport_maker make_transport_before = pop3_make_transport;
  wyke_test::TempConfigHome home;
};

TEST_P(ImapSession, ShowsWhatTheServerAllowsAndChangesNothing) {
  const session_case& c = GetParam();
  script = c.script;
  sent.clear();
  home.write("Mail/accounts",
             std::string("[account]\nprotocol = imap\nhost = mail.test\nuser = alice\npassword = ") + c.password +
                 "\nsecurity = " + c.security + "\n" + c.keys,
             0600);
  report_begin();
  const account_outcome outcome = check_account(0, headers);
  EXPECT_EQ(outcome.text, c.shown);
  if (outcome.text.starts_with(listed_two)) {  // the news tells sender and subject too
    ASSERT_FALSE(outcome.messages.empty());
    EXPECT_EQ(outcome.messages[0].identity, "7/2");
    EXPECT_EQ(outcome.messages[0].from, "Ann <a@x>");
    EXPECT_EQ(outcome.messages[0].subject, "two folded");
  }
  for (const std::string& s : c.sent) EXPECT_NE(sent.find(s), std::string::npos) << s << " in\n" << sent;
  for (const std::string& s : c.unsent) EXPECT_EQ(sent.find(s), std::string::npos) << s << " in\n" << sent;
  for (const char* changes : {" STORE", " SELECT", " EXPUNGE", " COPY", " MOVE", "BODY["})
    EXPECT_EQ(sent.find(changes), std::string::npos) << sent;
  if (c.reason.empty())
    EXPECT_EQ(report_reason(), "");
  else
    EXPECT_NE(report_reason().find(c.reason), std::string::npos) << report_reason();
}

const std::string incomplete = std::string("\n") + incomplete_text;

INSTANTIATE_TEST_SUITE_P(
    Answers, ImapSession,
    testing::Values(
        session_case{"unseen_oldest_first",
                     "tls",
                     {greeting, signed_in(1) + four + two + tag(4) + "OK fetched\r\n" + logout(5)},
                     listed_both,
                     {"a1 LOGIN \"alice\" \"secret\"\r\na2 EXAMINE \"INBOX\"\r\na3 UID SEARCH UNSEEN\r\n",
                      "a4 UID FETCH 2,4 (UID BODY.PEEK[HEADER])\r\na5 LOGOUT\r\n"},
                     {},
                     ""},
        // SEARCHRES: the FETCH of "$" goes with the search; a range as wide
        // as UIDs go costs no more than the bound on a listing.
        session_case{"search_results_kept",
                     "tls",
                     {kept_greeting, signed_in(1, "* ESEARCH (TAG \"a3\") UID ALL 2,4\r\n") + two + four + tag(4) +
                                         "OK fetched\r\n" + logout(5)},
                     listed_both,
                     {"a3 UID SEARCH RETURN (SAVE ALL) UNSEEN\r\na4 UID FETCH $ (UID BODY.PEEK[HEADER])\r\n"},
                     {},
                     ""},
        session_case{"kept_range_without_end",
                     "tls",
                     {kept_greeting, signed_in(1, "* ESEARCH (TAG \"a3\") UID ALL 1:4294967295\r\n") + two + four +
                                         tag(4) + "OK fetched\r\n" + logout(5)},
                     listed_both,
                     {},
                     {},
                     ""},
        session_case{"none_unseen",
                     "tls",
                     {greeting, signed_in(1, "* SEARCH\r\n") + logout(4)},
                     no_mail_text,
                     {"a4 LOGOUT"},
                     {"FETCH"},
                     ""},
        session_case{"untagged_junk_passed_over",
                     "tls",
                     {greeting, signed_in(1) + "* 9 FETCH (FLAGS (\\Seen))\r\n* junk {3}\r\nabc\r\n" +
                                    fetch(5, 77, header("Eve", "not asked")) + two + "* 1 RECENT\r\n" + four +
                                    tag(4) + "OK\r\n" + logout(5)},
                     listed_both,
                     {},
                     {},
                     ""},
        session_case{"literal_longer_than_sent",
                     "tls",
                     {greeting, signed_in(1) + two + "* 2 FETCH (UID 4 BODY[HEADER] {900}\r\nFrom: Bob\r\n"},
                     listed_two + incomplete,
                     {},
                     {},
                     "listing incomplete after 1 of 2"},
        session_case{"literal_past_bound",
                     "tls",
                     {greeting, signed_in(1) + two + "* 2 FETCH (UID 4 BODY[HEADER] {99999999999}\r\n"},
                     listed_two + incomplete,
                     {},
                     {},
                     "a literal of 99999999999 bytes"},
        session_case{"endless_line", "tls", {std::string(3 << 20, 'x')}, "Error", {}, {"LOGIN"}, "longer than"},
        session_case{"fetch_never_answered",
                     "tls",
                     {greeting, signed_in(1) + two + four},
                     listed_both + incomplete,
                     {},
                     {},
                     "gave up waiting"},
        session_case{"bye_mid_fetch",
                     "tls",
                     {greeting, signed_in(1) + two + "* BYE server shutting down\r\n" + four},
                     listed_two + incomplete,
                     {},
                     {},
                     "server shutting down"},
        session_case{"starttls_refused",
                     "starttls",
                     {greeting, tag(1) + "NO not now\r\n"},
                     "Error",
                     {"a1 STARTTLS"},
                     {"LOGIN", "<TLS>"},
                     "refused STARTTLS"},
        session_case{"starttls_not_offered",
                     "starttls",
                     {"* OK [CAPABILITY IMAP4rev1] ready\r\n"},
                     "Error",
                     {},
                     {"STARTTLS", "LOGIN"},
                     "does not offer STARTTLS"},
        session_case{"bytes_glued_to_starttls_dropped",
                     "starttls",
                     {greeting, tag(1) + "OK begin\r\n* CAPABILITY IMAP4rev1 LOGINDISABLED\r\n",
                      "* CAPABILITY IMAP4rev1 IDLE\r\n" + tag(2) + "OK\r\n" + signed_in(3) + two + four + tag(6) +
                          "OK\r\n" + logout(7)},
                     listed_both,
                     {"a1 STARTTLS\r\n<TLS>a2 CAPABILITY\r\na3 LOGIN"},
                     {},
                     ""},
        session_case{"login_disabled",
                     "tls",
                     {"* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] ready\r\n"},
                     "Error",
                     {},
                     {"LOGIN"},
                     "set security"},
        session_case{"login_refused",
                     "tls",
                     {greeting, tag(1) + "NO [AUTHENTICATIONFAILED] bad\r\n" + tag(2) + "BAD\r\n"},
                     "Wrong Password",
                     {"a1 LOGIN \"alice\" \"se\\\"c\\\\ret\"\r\n"},
                     {},
                     "refused the login",
                     "se\"c\\ret"},
        session_case{"password_as_literal_after_continuation",
                     "tls",
                     {"* OK [CAPABILITY IMAP4rev1] ready\r\n", "+ go on\r\n", signed_in(1) + two + four +
                                                                                  tag(4) + "OK\r\n" + logout(5)},
                     listed_both,
                     {"a1 LOGIN \"alice\" {7}\r\np\xc3\xa4ss\"\\\r\n"},
                     {},
                     "",
                     "p\xc3\xa4ss\"\\"},
        session_case{"greeting_bye", "tls", {"* BYE too busy\r\n"}, "Error", {}, {"LOGIN"}, "too busy"},
        session_case{"xoauth2_initial_response",
                     "tls",
                     {"* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] hi\r\n",
                      signed_in(1) + two + four + tag(4) + "OK\r\n" + logout(5)},
                     listed_both,
                     {"a1 AUTHENTICATE XOAUTH2 " + xoauth2_response("alice", "tok") + "\r\na2 EXAMINE"},
                     {"LOGIN"},
                     "",
                     "",
                     "auth = xoauth2\noauth_token_command = echo tok\n"},
        session_case{"xoauth2_refused_after_challenge",
                     "tls",
                     {"* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] hi\r\n", "+ \r\n",
                      "+ eyJzdGF0dXMiOiI0MDEifQ==\r\n", tag(1) + "NO [AUTHENTICATIONFAILED] no\r\n"},
                     "Wrong Password",
                     {"a1 AUTHENTICATE XOAUTH2\r\n" + xoauth2_response("alice", "tok") + "\r\n\r\n"},
                     {"EXAMINE"},
                     "refused the access token",
                     "",
                     "auth = xoauth2\noauth_token_command = echo tok\n"}),
    [](const testing::TestParamInfo<session_case>& info) { return std::string(info.param.name); });

// --debug shows the exchange, never the password or the token.
TEST_F(ImapSession, DebugHidesTheCredentials) {
  home.write("Mail/accounts", "[account]\nprotocol = imap\nhost = h\nuser = alice\npassword = hunter2\n", 0600);
  script = {greeting, signed_in(1, "* SEARCH\r\n") + logout(4)};
  debug_log_enabled = true;
  testing::internal::CaptureStderr();
  check_account(0, headers);
  const std::string log = testing::internal::GetCapturedStderr();
  debug_log_enabled = false;
  EXPECT_NE(log.find("C: a1 LOGIN ***"), std::string::npos) << log;
  EXPECT_NE(log.find("S: a3 OK searched"), std::string::npos) << log;
  EXPECT_EQ(log.find("hunter2"), std::string::npos) << log;
}

TEST(ImapMailboxName, ModifiedUtf7) {
  const struct {
    const char* utf8;
    const char* sent;
  } cases[] = {
      {"INBOX", "INBOX"},
      {"Entw\xc3\xbc" "rfe", "Entw&APw-rfe"},
      {"R&D", "R&-D"},
      {"~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {"\xf0\x9f\x93\xa7", "&2D3c5w-"},
      {"bad\xff", "bad&,,0-"},
  };
  for (const auto& c : cases) EXPECT_EQ(imap_mailbox_name(c.utf8), c.sent) << c.utf8;
}

// The reader parses where the bytes lie, in a buffer that moves and grows:
// however the server's words are cut into receives, each response comes
// whole, its literals intact, a literal larger than the buffer's first
// size and one after it in the same response included.
TEST(ImapReaderChunks, ResponsesWholeHoweverTheyArrive) {
  std::string big(300 * 1024, 'h');
  for (std::size_t i = 0; i < big.size(); i += 997) big[i] = static_cast<char>('a' + i % 26);
  const struct {
    std::string tag, text;
    std::vector<std::string> literals;
  } expected[] = {
      {"*", "OK ready", {}},
      {"*", "1 FETCH (UID 2 BODY[HEADER] {5})", {"ab\r\nc"}},
      {"*", "2 FETCH (UID 3 BODY[HEADER] {307200} X {3})", {big, "xyz"}},
      {"*", "bare LF", {}},
      {"a1", "OK done", {}},
  };
  // Appended piece by piece for GCC 12's sake (-Wrestrict).
  std::string said = "* OK ready\r\n* 1 FETCH (UID 2 BODY[HEADER] {5}\r\nab\r\nc)\r\n";
  said += "* 2 FETCH (UID 3 BODY[HEADER] {307200}\r\n";
  said += big;
  said += " X {3}\r\nxyz)\r\n* bare LF\na1 OK done\r\n";
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{16 * 1024 + 3}, said.size()}) {
    SCOPED_TRACE(chunk);
    std::deque<std::string> script;
    for (std::size_t at = 0; at < said.size(); at += chunk) script.push_back(said.substr(at, chunk));
    std::string sent;
    ScriptedTransport server(script, sent);
    server.connect("h", 1);
    ImapReader reader(server);
    imap_response response;
    for (const auto& want : expected) {
      ASSERT_EQ(reader.read(response), imap_read::response);
      EXPECT_EQ(response.tag, want.tag);
      EXPECT_EQ(response.text, want.text);
      ASSERT_EQ(response.literals.size(), want.literals.size());
      for (std::size_t i = 0; i < want.literals.size(); ++i) EXPECT_TRUE(response.literals[i] == want.literals[i]) << i;
    }
    EXPECT_EQ(reader.read(response), imap_read::ended);
  }
}

// A watcher's listing reaches only the check it was made for, once.
TEST(IdleListing, IsTakenOnceAndOnlyWithTheSameSettingsAndFields) {
  const std::vector<std::string> shown = {"From:", "Subject:"};
  const struct {
    const char* name;
    int index;
    std::string settings;
    std::vector<std::string> headers;
    bool taken;
  } cases[] = {
      {"the same", 3, "host\n993", shown, true},
      {"another account", 4, "host\n993", shown, false},
      {"settings changed since", 3, "other host\n993", shown, false},
      {"other fields shown", 3, "host\n993", {"Subject:"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    account_outcome listed;
    listed.text = "Subject: pushed";
    offer_idle_listing(3, "host\n993", shown, listed);
    const auto taken = take_idle_listing(c.index, c.settings, c.headers);
    ASSERT_EQ(taken.has_value(), c.taken);
    if (taken) {
      EXPECT_EQ(taken->text, "Subject: pushed");
    }
    // Once looked at for its account, it is gone, whether it fitted or not.
    EXPECT_EQ(take_idle_listing(3, "host\n993", shown).has_value(), c.index != 3);
  }
}

}  // namespace
