// The accounts file: what an account reads as, what is refused, and what
// the user is told.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/mail_settings.h"
#include "platform/secret_file.h"
#include "temp_config.h"

namespace {

using wyke_test::TempConfigHome;

constexpr const char* leaf = "Mail/accounts";

struct Account {
  std::string host, user, password;
  bool operator==(const Account&) const = default;
};

void PrintTo(const Account& a, std::ostream* out) {
  *out << "{" << a.host << ", " << a.user << ", " << a.password << "}";
}

Account read_account(int32 index, status_t* result) {
  mail_pop_account record;
  *result = get_pop_account(&record, index);
  return {record.pop_host, record.pop_name, record.pop_password};
}

struct FormatCase {
  const char* name;
  std::string file;
  int32 count;
  int32 index;
  Account want;
};

const std::vector<FormatCase> format_cases = {
    {"plain", "[account]\nhost = pop.example.org\nuser = alice\npassword = secret\n", 1, 0,
     {"pop.example.org", "alice", "secret"}},
    {"comments_blank_lines_crlf", "# mine\r\n\r\n[account]\r\n  # host = no\r\nhost = h\r\nuser = u\r\npassword = p\r\n",
     1, 0, {"h", "u", "p"}},
    {"value_keeps_inner_blanks_equals_hash", "[account]\npassword =  p a=ss #1 \t\n", 1, 0, {"", "", "p a=ss #1"}},
    {"tabs_and_no_blanks", "[account]\n\thost\t=\th\t\nuser=u\n", 1, 0, {"h", "u", ""}},
    {"keys_before_a_block_ignored", "host = stray\n[account]\nuser = u\n", 1, 0, {"", "u", ""}},
    {"unknown_keys_and_lines_ignored", "[account]\nport = 995\njust words\nuser = u\nUser = U\n", 1, 0, {"", "u", ""}},
    {"last_value_wins", "[account]\nuser = a\nuser = b\n", 1, 0, {"", "b", ""}},
    {"second_account", "[account]\nuser = a\n[account]\nuser = b\nhost = hb\n", 2, 1, {"hb", "b", ""}},
    {"block_line_with_blanks", "  [account]  \nuser = u\n", 1, 0, {"", "u", ""}},
    {"other_block_names_do_not_count", "[Account]\n[accounts]\n# [account]\n[account]\nuser = u\n", 1, 0, {"", "u", ""}},
    {"empty_value", "[account]\npassword =\nuser = u", 1, 0, {"", "u", ""}},
    {"key_with_a_blank_is_no_key", "[account]\npass word = x\n", 1, 0, {"", "", ""}},
    {"byte_order_mark_skipped", "\xEF\xBB\xBF[account]\nuser = u\n", 1, 0, {"", "u", ""}},
    {"byte_order_mark_only_at_the_start", "[account]\n\xEF\xBB\xBFuser = u\nhost = h\n", 1, 0, {"h", "", ""}},
};

TEST(MailSettings, FileFormat) {
  for (const FormatCase& c : format_cases) {
    SCOPED_TRACE(c.name);
    TempConfigHome home;
    home.write(leaf, c.file, 0600);
    EXPECT_EQ(count_pop_accounts(), c.count);
    status_t result;
    EXPECT_EQ(read_account(c.index, &result), c.want);
    EXPECT_EQ(result, B_OK);
  }
}

TEST(MailSettings, ValuesAreNeverCut) {
  const std::string fits(255, 'f');
  const std::string too_long(256, 'x');
  struct Case {
    std::string line;
    status_t want;
    std::string Account::*field = nullptr;  // what holds the value when it is accepted
    std::string stored = {};
  };
  const std::vector<Case> cases = {
      {"host = " + fits, B_OK, &Account::host, fits},
      {"user = " + fits, B_OK, &Account::user, fits},
      {"password = " + fits, B_OK, &Account::password, fits},
      {"host = " + too_long, B_NAME_TOO_LONG},
      {"user = " + too_long, B_NAME_TOO_LONG},
      {"password = " + too_long, B_NAME_TOO_LONG},
      {std::string("password = a\0b", 14), B_BAD_VALUE},
      {"password = " + too_long + "\npassword = short", B_OK, &Account::password, "short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 20));
    TempConfigHome home;
    home.write(leaf, "[account]\n" + c.line + "\n[account]\nuser = other\n", 0600);
    testing::internal::CaptureStderr();
    status_t result;
    const Account got = read_account(0, &result);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, c.want);
    if (c.want == B_OK) {
      EXPECT_TRUE(said.empty()) << said;
      EXPECT_EQ(got.*c.field, c.stored);
    } else {
      EXPECT_EQ(got, Account{}) << "nothing of a refused account is handed out";
      EXPECT_NE(said.find(home.path(leaf)), std::string::npos) << said;
    }
    EXPECT_EQ(read_account(1, &result).user, "other") << "the other account is unharmed";
    EXPECT_EQ(result, B_OK);
  }
}

// The first account of a file holding `text`, and what was said on stderr.
struct FirstAccount {
  status_t result;
  mail_pop_account record;
  std::string said;
};
FirstAccount first_account_of(const TempConfigHome& home, const std::string& text) {
  home.write(leaf, text, 0600);
  testing::internal::CaptureStderr();
  FirstAccount read{};
  read.result = get_pop_account(&read.record, 0);
  read.said = testing::internal::GetCapturedStderr();
  return read;
}

TEST(MailSettings, IndexOutsideTheFile) {
  TempConfigHome home;
  home.write(leaf, "[account]\nuser = u\n", 0600);
  status_t result;
  for (const int32 index : {-1, 1, 7}) {
    read_account(index, &result);
    EXPECT_EQ(result, B_BAD_INDEX) << index;
  }
  EXPECT_EQ(get_pop_account(nullptr, 0), B_BAD_VALUE);
}

TEST(MailSettings, FileOthersMayTouchIsRefusedWithOneHint) {
  struct Case {
    unsigned mode;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {0600, true}, {0400, true}, {0700, true}, {0640, false}, {0604, false},
      {0620, false}, {0602, false}, {0644, false}, {0660, false}, {0601, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode);
    TempConfigHome home;
    home.write(leaf, "[account]\nuser = u\npassword = p\n", c.mode);
    testing::internal::CaptureStderr();
    const int32 count = count_pop_accounts();
    status_t result;
    const Account got = read_account(0, &result);
    count_pop_accounts();
    const std::string said = testing::internal::GetCapturedStderr();
    if (c.accepted) {
      EXPECT_EQ(count, 1);
      EXPECT_EQ(result, B_OK);
      EXPECT_TRUE(said.empty()) << said;
      continue;
    }
    EXPECT_EQ(count, 0);
    EXPECT_EQ(result, B_NOT_ALLOWED);
    EXPECT_EQ(got, Account{});
    const std::string hint = "chmod 600 " + home.path(leaf);
    ASSERT_NE(said.find(hint), std::string::npos) << said;
    EXPECT_EQ(said.find(hint, said.find(hint) + 1), std::string::npos) << "told once: " << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }
}

// Another user's file is refused however closed it is. The test's user
// namespace maps one user alone, so the other owner is put in its status.
TEST(MailSettings, FileOfAnotherUserIsRefused) {
  TempConfigHome home;
  home.write(leaf, "[account]\nuser = u\npassword = p\n", 0600);
  struct stat st {};
  ASSERT_EQ(stat(home.path(leaf).c_str(), &st), 0);
  EXPECT_EQ(secret_file_fault(st, home.path(leaf)), "");
  st.st_uid = geteuid() + 1;
  EXPECT_NE(secret_file_fault(st, home.path(leaf)).find("belongs to another user"), std::string::npos);
}

TEST(MailSettings, MissingFileGivesNoAccountAndOneHint) {
  TempConfigHome home;
  testing::internal::CaptureStderr();
  EXPECT_EQ(count_pop_accounts(), 0);
  EXPECT_EQ(count_pop_accounts(), 0);
  status_t result;
  read_account(0, &result);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, B_ENTRY_NOT_FOUND);
  EXPECT_NE(said.find(home.path(leaf)), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST(MailSettings, FolderInPlaceOfTheFile) {
  TempConfigHome home;
  home.write("Mail/accounts/inside", "", 0600);
  testing::internal::CaptureStderr();
  EXPECT_EQ(count_pop_accounts(), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}

TEST(MailSettings, EveryCallReadsTheFileAfresh) {
  TempConfigHome home;
  home.write(leaf, "[account]\nuser = first\n", 0600);
  EXPECT_EQ(count_pop_accounts(), 1);
  home.write(leaf, "[account]\nuser = second\n[account]\n", 0600);
  EXPECT_EQ(count_pop_accounts(), 2);
  status_t result;
  EXPECT_EQ(read_account(0, &result).user, "second");
}

// The keys beside host and user: what each value reads as, and the one line
// a refused value gets, naming the file (never a silent default).
TEST(MailSettings, AccountKeys) {
  const std::string pin = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
  const std::string pin_digits = "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";
  const std::string command = "secret-tool lookup service wyke user \"al ice\"";
  const struct {
    std::string lines;
    status_t want = B_OK;
    std::string told = {};  // in the line of a refused value
    pop_security security = pop_security::none;
    uint16 port = 0;
    std::string fingerprint = {};
    pop_auth auth = pop_auth::user;
    std::string password_command = {}, token_command = {};
    mail_protocol protocol = mail_protocol::pop3;
    std::string mailbox = {};
  } cases[] = {
      {""},
      {"security = none"},
      {.lines = "security = starttls", .security = pop_security::starttls},
      {.lines = "security = tls\nport = 10995", .security = pop_security::tls, .port = 10995},
      {.lines = "port = 1", .port = 1},
      {.lines = "port = 65535", .port = 65535},
      {.lines = "fingerprint = " + pin, .fingerprint = pin_digits},
      {.lines = "fingerprint = " + pin_digits.substr(0, 32) + pin.substr(48), .fingerprint = pin_digits},
      {"security = TLS", B_BAD_VALUE, "security must be none, starttls or tls"},
      {"security = ssl", B_BAD_VALUE, "security must be"},
      {"security =", B_BAD_VALUE, "security must be"},
      {"port = 0", B_BAD_VALUE, "port must be a number from 1 to 65535"},
      {"port = 65536", B_BAD_VALUE, "port must be"},
      {"port = 99999999999999999999", B_BAD_VALUE, "port must be"},
      {"port = 995x", B_BAD_VALUE, "port must be"},
      {"port = -1", B_BAD_VALUE, "port must be"},
      {"fingerprint = " + pin.substr(3), B_BAD_VALUE, "fingerprint must be the 64 hex digits"},
      {"fingerprint = " + pin + ":00", B_BAD_VALUE, "fingerprint must be"},
      {"fingerprint = " + pin_digits.substr(1) + "g", B_BAD_VALUE, "fingerprint must be"},
      {"cafile = " + std::string(256, 'c'), B_NAME_TOO_LONG, "cafile is longer than 255 bytes"},
      {"auth = user"},
      {.lines = "auth = xoauth2\noauth_token_command = oauth2 --token 'a b'", .auth = pop_auth::xoauth2,
       .token_command = "oauth2 --token 'a b'"},
      {.lines = "password_command = " + command, .password_command = command},
      {"auth = XOAUTH2", B_BAD_VALUE, "the auth must be user or xoauth2"},
      {"auth =", B_BAD_VALUE, "the auth must be user or xoauth2"},
      {"password_command = " + std::string(256, 'c'), B_NAME_TOO_LONG},
      {.lines = "protocol = imap\nmailbox = Archiv/2024 \xc3\xa4", .protocol = mail_protocol::imap,
       .mailbox = "Archiv/2024 \xc3\xa4"},
      {"protocol = pop3"},
      {"protocol = IMAP", B_BAD_VALUE, "the protocol must be pop3 or imap"},
      {"protocol = imap4", B_BAD_VALUE, "the protocol must be pop3 or imap"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    TempConfigHome home;
    const auto [result, record, said] =
        first_account_of(home, "[account]\nhost = h\nuser = u\ncafile = /ca.pem\n" + c.lines + "\n");
    ASSERT_EQ(result, c.want) << said;
    if (c.want != B_OK) {
      EXPECT_NE(said.find(home.path(leaf)), std::string::npos) << said;
      EXPECT_NE(said.find(c.told), std::string::npos) << said;
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
      EXPECT_STREQ(record.pop_host, "") << "nothing of a refused account is handed out";
      EXPECT_STREQ(record.pop_name, "");
      continue;
    }
    EXPECT_TRUE(said.empty()) << said;
    EXPECT_EQ(record.security, c.security);
    EXPECT_EQ(record.pop_port, c.port);
    EXPECT_EQ(record.pop_fingerprint, c.fingerprint);
    EXPECT_STREQ(record.pop_cafile, "/ca.pem");
    EXPECT_EQ(record.auth, c.auth);
    EXPECT_EQ(record.pop_password_command, c.password_command);
    EXPECT_EQ(record.pop_oauth_token_command, c.token_command);
    EXPECT_EQ(record.protocol, c.protocol);
    EXPECT_EQ(record.mailbox, c.mailbox);
  }
}

}  // namespace
