#include "credentials.h"

#include <string>

#include "platform/debug_log.h"
#include "platform/helper_command.h"
#include "platform/report.h"

namespace {

bool fail(int index, const std::string& reason) {
  report_failure("account " + std::to_string(index) + ": " + reason);
  return false;
}

bool run(const char* key, const char* command, std::size_t max_line, int index, SecretText& secret) {
  debug_note(std::string("running the ") + key + " of account " + std::to_string(index));
  HelperOutput output = run_helper_command(command, max_line);
  if (!output.ok) return fail(index, std::string("the ") + key + " " + output.failure);
  std::swap(secret.text, output.line);
  return true;
}

}  // namespace

bool fetch_secret(const mail_pop_account& account, int index, SecretText& secret) {
  if (account.auth == pop_auth::xoauth2) {
    if (account.pop_oauth_token_command[0] == '\0')
      return fail(index, "auth = xoauth2 needs an oauth_token_command that prints the access token");
    return run("oauth_token_command", account.pop_oauth_token_command, max_oauth_token, index, secret);
  }
  const bool has_password = account.pop_password[0] != '\0';
  const bool has_command = account.pop_password_command[0] != '\0';
  if (has_password && has_command)
    return fail(index, "both password and password_command are set; keep one of them");
  if (!has_password && !has_command)
    return fail(index, "no password: set password, or password_command to a command that prints it");
  if (has_command) return run("password_command", account.pop_password_command, max_command_password, index, secret);
  secret.text = account.pop_password;
  return true;
}
