// What a desktop notification says of news: a summary in plain text and a
// body in the notification's markup. Pure: any thread.
#pragma once

#include <cstddef>
#include <string>

#include "news.h"

// The messages a body names; the rest are counted.
inline constexpr std::size_t max_notice_messages = 3;

struct notice_text {
  std::string summary;  // empty: nothing to tell
  std::string body;
};

// "2 new messages" (one: its sender), or "3 messages waiting" at an
// account's first listing; the body names the newest of them, sender and
// subject, escaped for markup.
notice_text describe(const news& found);

// `text` with &, < and > written as entities.
std::string escape_markup(const std::string& text);
