// --debug: the exchange of every check on stderr, each line time-stamped,
// so that a user can see why a check failed. Secrets never reach it: a line
// that carries one is passed as such and printed with "***" in its place.
// Safe from any thread; does nothing until enabled.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "platform/secret_in.h"

extern std::atomic<bool> debug_log_enabled;

// A command line the client sent, without its CR LF.
void debug_sent(std::string_view line, secret_in secret = secret_in::none);
// A line the server sent, without its CR LF.
void debug_received(std::string_view line);
// Anything else worth knowing: the address dialled, the TLS parameters.
void debug_note(const std::string& text);

// What debug_sent prints for `line`: the text with its secret replaced.
std::string debug_redacted(std::string_view line, secret_in secret);
