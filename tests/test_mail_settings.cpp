// The accounts file: what an account reads as, what is refused, and what
// the user is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/mail_settings.h"
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

// The keys of a secured account: what each value reads as, and the one line
// a meaningless value gets (never a silent default).
TEST(MailSettings, SecurityKeys) {
  const std::string pin = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
  const std::string pin_digits = "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";
  struct Case {
    std::string lines;
    status_t want;
    pop_security security = pop_security::none;
    uint16 port = 0;
    std::string fingerprint = {};
    std::string told = {};  // in the hint of a refused value
  };
  const std::vector<Case> cases = {
      {"", B_OK},
      {"security = none", B_OK, pop_security::none},
      {"security = starttls", B_OK, pop_security::starttls},
      {"security = tls\nport = 10995", B_OK, pop_security::tls, 10995},
      {"port = 1", B_OK, pop_security::none, 1},
      {"port = 65535", B_OK, pop_security::none, 65535},
      {"fingerprint = " + pin, B_OK, pop_security::none, 0, pin_digits},
      {"fingerprint = " + pin_digits.substr(0, 32) + pin.substr(48), B_OK, pop_security::none, 0, pin_digits},
      {"security = TLS", B_BAD_VALUE, {}, 0, {}, "security must be none, starttls or tls"},
      {"security = ssl", B_BAD_VALUE, {}, 0, {}, "security must be"},
      {"security =", B_BAD_VALUE, {}, 0, {}, "security must be"},
      {"port = 0", B_BAD_VALUE, {}, 0, {}, "port must be a number from 1 to 65535"},
      {"port = 65536", B_BAD_VALUE, {}, 0, {}, "port must be"},
      {"port = 99999999999999999999", B_BAD_VALUE, {}, 0, {}, "port must be"},
      {"port = 995x", B_BAD_VALUE, {}, 0, {}, "port must be"},
      {"port = -1", B_BAD_VALUE, {}, 0, {}, "port must be"},
      {"fingerprint = " + pin.substr(3), B_BAD_VALUE, {}, 0, {}, "fingerprint must be the 64 hex digits"},
      {"fingerprint = " + pin + ":00", B_BAD_VALUE, {}, 0, {}, "fingerprint must be"},
      {"fingerprint = " + pin_digits.substr(1) + "g", B_BAD_VALUE, {}, 0, {}, "fingerprint must be"},
      {"cafile = " + std::string(256, 'c'), B_NAME_TOO_LONG, {}, 0, {}, "cafile is longer than 255 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    TempConfigHome home;
    const auto [result, record, said] = first_account_of(home, "[account]\nhost = h\ncafile = /ca.pem\n" + c.lines + "\n");
    ASSERT_EQ(result, c.want) << said;
    if (c.want != B_OK) {
      EXPECT_NE(said.find(c.told), std::string::npos) << said;
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
      EXPECT_STREQ(record.pop_host, "") << "nothing of a refused account is handed out";
      continue;
    }
    EXPECT_TRUE(said.empty()) << said;
    EXPECT_EQ(record.security, c.security);
    EXPECT_EQ(record.pop_port, c.port);
    EXPECT_EQ(record.pop_fingerprint, c.fingerprint);
    EXPECT_STREQ(record.pop_cafile, "/ca.pem");
  }
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

TEST(MailSettings, SigningInKeys) {
  struct Case {
    std::string lines;
    status_t want;
    pop_auth auth = pop_auth::user;
    std::string password_command = {}, token_command = {};
  };
  const std::vector<Case> cases = {
      {"", B_OK, pop_auth::user, "", ""},
      {"auth = user", B_OK, pop_auth::user, "", ""},
      {"auth = xoauth2\noauth_token_command = oauth2 --token 'a b'", B_OK, pop_auth::xoauth2, "",
       "oauth2 --token 'a b'"},
      {"password_command = secret-tool lookup service wyke user \"al ice\"", B_OK, pop_auth::user,
       "secret-tool lookup service wyke user \"al ice\"", ""},
      {"auth = XOAUTH2", B_BAD_VALUE},
      {"auth =", B_BAD_VALUE},
      {"password_command = " + std::string(256, 'c'), B_NAME_TOO_LONG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    TempConfigHome home;
    const auto [result, record, said] = first_account_of(home, "[account]\nuser = u\n" + c.lines + "\n");
    EXPECT_EQ(result, c.want);
    if (c.want != B_OK) {
      EXPECT_NE(said.find(home.path(leaf)), std::string::npos) << said;
      if (c.want == B_BAD_VALUE) {
        EXPECT_NE(said.find("the auth must be user or xoauth2"), std::string::npos) << said;
      }
      EXPECT_EQ(record.pop_name[0], '\0') << "nothing of a refused account is handed out";
      continue;
    }
    EXPECT_EQ(record.auth, c.auth);
    EXPECT_STREQ(record.pop_password_command, c.password_command.c_str());
    EXPECT_STREQ(record.pop_oauth_token_command, c.token_command.c_str());
  }
}

}  // namespace
