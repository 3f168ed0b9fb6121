#include "platform/mail_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/regular_file.h"
#include "platform/report.h"
#include "platform/secret.h"
#include "platform/secret_file.h"
#include "platform/storage.h"

namespace {

// Far above any real accounts file; keeps a mistaken link to something huge
// from being read into memory.
constexpr off_t max_accounts_file = 1 << 20;

constexpr std::string_view account_line = "[account]";
constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

std::string accounts_path() {
  BPath path;
  if (find_directory(B_USER_SETTINGS_DIRECTORY, &path) != B_OK) return {};
  if (path.Append("Mail") != B_OK || path.Append("accounts") != B_OK) return {};
  return path.Path();
}

status_t check_file(const struct stat& st, const std::string& path, off_t& size) {
  if (const std::string fault = secret_file_fault(st, path); !fault.empty()) {
    report_failure("ignoring " + path + ": " + fault);
    return B_NOT_ALLOWED;
  }
  if (st.st_size > max_accounts_file) {
    report_failure("ignoring " + path + ": larger than " + std::to_string(max_accounts_file) + " bytes");
    return -EFBIG;
  }
  size = st.st_size;
  return B_OK;
}

// Reads straight into room reserved for the whole file, so that no copy of
// the text is left behind in freed memory; a file that grows meanwhile is
// read up to its size at the check.
status_t read_all(int fd, off_t size, std::string& text) {
  text.resize(static_cast<std::size_t>(size));
  std::size_t used = 0;
  while (used < text.size()) {
    const ssize_t n = read(fd, text.data() + used, text.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  text.resize(used);
  return B_OK;
}

// The whole accounts file into `text`, or a negative error with its hint.
status_t read_accounts(std::string& path, std::string& text) {
  path = accounts_path();
  if (path.empty()) {
    report_failure("no settings folder (is HOME set?), so there is no mail account");
    return B_ENTRY_NOT_FOUND;
  }
  struct stat st;
  std::string why;
  const int fd = open_regular_file(path, st, why);
  if (fd < 0) {
    const status_t error = -errno;
    if (error == B_ENTRY_NOT_FOUND)
      report_failure("no mail account: write one to " + path +
                " ([account], then host = , user = , password = ) and chmod 600 it");
    else
      report_failure("cannot read " + path + " (" + why + "), so there is no mail account");
    return error;
  }
  off_t size = 0;
  status_t result = check_file(st, path, size);
  if (result == B_OK) result = read_all(fd, size, text);
  close(fd);
  return result;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

using FieldVisitor = std::function<void(int32 account, std::string_view key, std::string_view value)>;

// Walks the file's lines, handing every key of every account to `visit`.
// Returns the number of accounts.
int32 scan_accounts(std::string_view text, const FieldVisitor& visit) {
  // Some editors begin a UTF-8 file with a byte-order mark: no part of a line.
  if (text.starts_with(utf8_byte_order_mark)) text.remove_prefix(utf8_byte_order_mark.size());
  int32 accounts = 0;
  while (!text.empty()) {
    const std::string_view::size_type end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line == account_line) {
      ++accounts;
      continue;
    }
    const std::string_view::size_type eq = line.find('=');
    if (accounts == 0 || eq == std::string_view::npos) continue;
    visit(accounts - 1, trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
  }
  return accounts;
}

status_t store(char (&field)[mail_field_size], std::string_view value) {
  explicit_bzero(field, sizeof field);
  if (value.size() >= sizeof field) return B_NAME_TOO_LONG;
  if (value.find('\0') != std::string_view::npos) return B_BAD_VALUE;
  value.copy(field, value.size());
  return B_OK;
}

template <char (mail_pop_account::*member)[mail_field_size]>
status_t store_text(mail_pop_account& account, std::string_view value) {
  return store(account.*member, value);
}

// An empty password is still one the user gave: it is sent as it stands.
status_t store_password(mail_pop_account& account, std::string_view value) {
  account.pop_password_given = true;
  return store(account.pop_password, value);
}

// A key whose value is one word of a fixed list, each naming a setting.
template <class Setting, Setting mail_pop_account::*member, std::size_t n>
status_t store_choice(mail_pop_account& account, std::string_view value,
                      const std::pair<std::string_view, Setting> (&choices)[n]) {
  for (const auto& [word, setting] : choices) {
    if (value != word) continue;
    account.*member = setting;
    return B_OK;
  }
  return B_BAD_VALUE;
}

status_t store_security(mail_pop_account& account, std::string_view value) {
  static constexpr std::pair<std::string_view, pop_security> words[] = {
      {"none", pop_security::none}, {"starttls", pop_security::starttls}, {"tls", pop_security::tls}};
  return store_choice<pop_security, &mail_pop_account::security>(account, value, words);
}

status_t store_auth(mail_pop_account& account, std::string_view value) {
  static constexpr std::pair<std::string_view, pop_auth> words[] = {{"user", pop_auth::user},
                                                                    {"xoauth2", pop_auth::xoauth2}};
  return store_choice<pop_auth, &mail_pop_account::auth>(account, value, words);
}

status_t store_protocol(mail_pop_account& account, std::string_view value) {
  static constexpr std::pair<std::string_view, mail_protocol> words[] = {{"pop3", mail_protocol::pop3},
                                                                         {"imap", mail_protocol::imap}};
  return store_choice<mail_protocol, &mail_pop_account::protocol>(account, value, words);
}

status_t store_check(mail_pop_account& account, std::string_view value) {
  static constexpr std::pair<std::string_view, bool> words[] = {{"yes", false}, {"no", true}};
  return store_choice<bool, &mail_pop_account::pop_skipped>(account, value, words);
}

status_t store_port(mail_pop_account& account, std::string_view value) {
  unsigned port = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
  if (error != std::errc() || end != value.data() + value.size() || port < 1 || port > 65535) return B_BAD_VALUE;
  account.pop_port = static_cast<uint16>(port);
  return B_OK;
}

// As `openssl x509 -fingerprint -sha256` prints it, or without the colons,
// in either case; kept as 64 lower-case digits.
status_t store_fingerprint(mail_pop_account& account, std::string_view value) {
  std::string digits;
  for (const char c : value) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return B_BAD_VALUE;
    digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (digits.size() != 64) return B_BAD_VALUE;
  return store(account.pop_fingerprint, digits);
}

// The fields of the record, by their key in the file, with what the user is
// told of a value the field refuses as meaningless.
struct Field {
  const char* key;
  status_t (*store)(mail_pop_account& account, std::string_view value);
  const char* bad_value;
};

constexpr const char* nul_byte = "holds a NUL byte";

constexpr Field fields[] = {
    {"host", store_text<&mail_pop_account::pop_host>, nul_byte},
    {"user", store_text<&mail_pop_account::pop_name>, nul_byte},
    {"password", store_password, nul_byte},
    {"security", store_security, "must be none, starttls or tls"},
    {"port", store_port, "must be a number from 1 to 65535"},
    {"cafile", store_text<&mail_pop_account::pop_cafile>, nul_byte},
    {"fingerprint", store_fingerprint, "must be the 64 hex digits of a SHA-256 fingerprint (colons allowed)"},
    {"password_command", store_text<&mail_pop_account::pop_password_command>, nul_byte},
    {"auth", store_auth, "must be user or xoauth2"},
    {"oauth_token_command", store_text<&mail_pop_account::pop_oauth_token_command>, nul_byte},
    {"protocol", store_protocol, "must be pop3 or imap"},
    {"mailbox", store_text<&mail_pop_account::mailbox>, nul_byte},
    {"name", store_text<&mail_pop_account::pop_account_name>, nul_byte},
    {"check", store_check, "must be yes or no"},
};

// What the list of accounts to check needs of each; the secrets stay unread.
constexpr std::string_view listing_keys[] = {"host", "user", "name", "check"};

std::string name_of(const mail_pop_account& account) {
  if (account.pop_account_name[0] != '\0') return account.pop_account_name;
  return std::string(account.pop_name) + "@" + account.pop_host;
}

}  // namespace

int32 count_pop_accounts() {
  std::string path, text;
  int32 count = 0;
  if (read_accounts(path, text) == B_OK) count = scan_accounts(text, [](int32, std::string_view, std::string_view) {});
  wipe_secret(text);
  return count;
}

status_t get_pop_account(mail_pop_account* account, int32 index) {
  if (account == nullptr) return B_BAD_VALUE;
  explicit_bzero(account, sizeof *account);
  std::string path, text;
  status_t result = read_accounts(path, text);
  if (result != B_OK) {
    wipe_secret(text);
    return result;
  }

  // A key given twice keeps its last value, and with it the last verdict.
  status_t verdict[std::size(fields)] = {};
  const int32 count = scan_accounts(text, [&](int32 at, std::string_view key, std::string_view value) {
    if (at != index) return;
    for (std::size_t i = 0; i < std::size(fields); ++i)
      if (key == fields[i].key) verdict[i] = fields[i].store(*account, value);
  });
  wipe_secret(text);

  if (index < 0 || index >= count) result = B_BAD_INDEX;
  for (std::size_t i = 0; result == B_OK && i < std::size(fields); ++i) {
    if (verdict[i] == B_OK) continue;
    result = verdict[i];
    report_failure("account " + std::to_string(index) + " in " + path + ": the " + fields[i].key + " " +
              (result == B_NAME_TOO_LONG ? "is longer than 255 bytes" : fields[i].bad_value));
  }
  if (result != B_OK) explicit_bzero(account, sizeof *account);
  return result;
}

int32 list_checked_accounts(std::vector<checked_account>& checked) {
  checked.clear();
  std::string path, text;
  int32 count = 0;
  if (read_accounts(path, text) == B_OK) {
    // Accounts come one after another: one record at a time is enough.
    mail_pop_account record{};
    int32 current = 0;
    const auto finish = [&] {
      if (!record.pop_skipped && checked.size() < max_checked_accounts)
        checked.push_back({current, name_of(record)});
      else if (!record.pop_skipped)
        report_failure("only the first " + std::to_string(max_checked_accounts) + " accounts of " + path +
                       " are checked");
      record = mail_pop_account{};
      ++current;
    };
    count = scan_accounts(text, [&](int32 at, std::string_view key, std::string_view value) {
      while (current < at) finish();
      if (std::find(std::begin(listing_keys), std::end(listing_keys), key) == std::end(listing_keys)) return;
      for (const Field& field : fields)
        if (key == field.key) field.store(record, value);
    });
    while (current < count) finish();
  }
  wipe_secret(text);
  return count;
}
