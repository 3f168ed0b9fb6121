#include "credentials.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/debug_log.h"
#include "platform/helper_command.h"
#include "platform/report.h"

namespace {

bool fail(int index, const std::string& reason) {
  report_failure("account " + std::to_string(index) + ": " + reason);
  return false;
}

// Accounts checked at the same time take turns at their commands: a desktop
// keyring that asks the user to unlock it asks once, not once per account.
std::mutex one_command_at_a_time;

// Runs on the thread of the account's check.
bool run(const char* key, const char* command, std::size_t max_line, int index, SecretText& secret) {
  const std::lock_guard turn(one_command_at_a_time);
  debug_note(std::string("running the ") + key + " of account " + std::to_string(index));
  HelperOutput output = run_helper_command(command, max_line);
  if (!output.ok) return fail(index, std::string("the ") + key + " " + output.failure);
  std::swap(secret.text, output.line);
  return true;
}

// Told once per account and process: it stays true at every check, and the
// user who chose it on a trusted network needs to hear it only once; a
// second account sent in plain text is told of its own.
std::mutex warned_lock;
std::set<std::string> warned_plain_text;  // user@host

void warn_plain_text(const mail_pop_account& account) {
  if (account.security != pop_security::none || !crosses_network(account.pop_host)) return;
  {
    const std::lock_guard guard(warned_lock);
    if (!warned_plain_text.insert(std::string(account.pop_name) + "@" + account.pop_host).second) return;
  }
  std::fprintf(stderr,
               "wyke: the password for %s crosses the network to %s unencrypted; set security = tls (port 995) "
               "or security = starttls for the account in the accounts file\n",
               account.pop_name, account.pop_host);
}

}  // namespace

bool crosses_network(const char* host) {
  if (std::strcmp(host, "localhost") == 0) return false;
  in_addr v4;
  if (inet_aton(host, &v4) != 0) return (ntohl(v4.s_addr) >> 24) != 127;
  in6_addr v6;
  if (inet_pton(AF_INET6, host, &v6) == 1) return !IN6_IS_ADDR_LOOPBACK(&v6);
  return true;
}

bool fetch_secret(const mail_pop_account& account, int index, SecretText& secret) {
  if (account.auth == pop_auth::xoauth2) {
    if (account.security == pop_security::none)
      return fail(index, "auth = xoauth2 sends an access token, so it needs security = tls or starttls");
    if (account.pop_oauth_token_command[0] == '\0')
      return fail(index, "auth = xoauth2 needs an oauth_token_command that prints the access token");
    return run("oauth_token_command", account.pop_oauth_token_command, max_oauth_token, index, secret);
  }
  const bool has_password = account.pop_password_given;
  const bool has_command = account.pop_password_command[0] != '\0';
  if (has_password && has_command)
    return fail(index, "both password and password_command are set; keep one of them");
  if (!has_password && !has_command)
    return fail(index, "no password: set password, or password_command to a command that prints it");
  warn_plain_text(account);
  if (has_command) return run("password_command", account.pop_password_command, max_command_password, index, secret);
  secret.text = account.pop_password;
  return true;
}
