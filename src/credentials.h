// The secret an account signs in with, had afresh at every check: the
// password of the accounts file, or the first line printed by the command
// the account names instead (a keyring lookup, a password manager, a script
// that hands out a current OAuth 2.0 access token).
#pragma once

#include <cstddef>

#include "platform/mail_settings.h"
#include "platform/secret.h"

// Access tokens are far longer than passwords (a JSON Web Token easily runs
// to a few kilobytes); a password from a command fits the record's field.
inline constexpr std::size_t max_oauth_token = 16 * 1024;
inline constexpr std::size_t max_command_password = mail_field_size - 1;

// Whether a connection to `host` leaves this machine: anything but
// "localhost", 127.0.0.0/8 and ::1 (a name is not looked up).
bool crosses_network(const char* host);

// Puts the secret of `account` (number `index` in the accounts file) into
// `secret`. False when the account names no way to get it or two, or when
// its command fails, or when it is an access token and the account has no
// TLS; the reason is reported, never any of the secret. A password that
// would cross the network in plain text gets one warning on stderr per
// process; the exchange itself stays as the account asks.
bool fetch_secret(const mail_pop_account& account, int index, SecretText& secret);
