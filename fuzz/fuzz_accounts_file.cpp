// Feeds arbitrary bytes to the mail settings as the accounts file, asking for
// every account and the indices just outside them, and checking what POP3
// relies on: the count matches the indices that exist, every field is a
// NUL-terminated text, values are trimmed single lines, and a failed lookup
// leaves nothing behind in the record; the accounts a check includes are
// accounts of the file, in its order, bounded, none of them set to check = no.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mail_settings.h"
#include "require.h"
#include "settings_folder.h"

namespace {

// Not a byte a lookup writes, so a field it never touched is seen.
constexpr unsigned char untouched = 0xa5;

bool is_trimmed_line(std::string_view value) {
  if (value.find('\n') != std::string_view::npos) return false;
  if (value.empty()) return true;
  return value.front() != ' ' && value.front() != '\t' && value.back() != ' ' && value.back() != '\t' &&
         value.back() != '\r';
}

void check_field(const char (&field)[mail_field_size], status_t result) {
  const void* end = std::memchr(field, '\0', mail_field_size);
  REQUIRE(end != nullptr);
  if (result == B_OK) REQUIRE(is_trimmed_line(field));
}

void check_account(int32 index, int32 count) {
  mail_pop_account account;
  std::memset(&account, untouched, sizeof account);
  const status_t result = get_pop_account(&account, index);
  REQUIRE((result == B_BAD_INDEX) == (index < 0 || index >= count));
  REQUIRE(result == B_OK || result == B_BAD_INDEX || result == B_NAME_TOO_LONG || result == B_BAD_VALUE);
  check_field(account.pop_host, result);
  check_field(account.pop_name, result);
  check_field(account.pop_password, result);
  check_field(account.pop_password_command, result);
  check_field(account.pop_oauth_token_command, result);
  check_field(account.pop_account_name, result);
  if (result != B_OK) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&account);
    REQUIRE(std::all_of(bytes, bytes + sizeof account, [](unsigned char b) { return b == 0; }));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::write_setting_file("Mail/accounts", std::string_view(reinterpret_cast<const char*>(data), size), 0600);
  const int32 count = count_pop_accounts();
  REQUIRE(count >= 0);
  for (int32 index = -1; index <= count + 1; ++index) check_account(index, count);

  std::vector<checked_account> checked;
  REQUIRE(list_checked_accounts(checked) == count);
  REQUIRE(checked.size() <= max_checked_accounts);
  for (std::size_t i = 0; i < checked.size(); ++i) {
    REQUIRE(checked[i].index >= 0 && checked[i].index < count);
    REQUIRE(i == 0 || checked[i].index > checked[i - 1].index);
    REQUIRE(checked[i].name.find('\n') == std::string::npos && !checked[i].name.empty());
    mail_pop_account account;
    if (get_pop_account(&account, checked[i].index) == B_OK) REQUIRE(!account.pop_skipped);
  }
  return 0;
}
