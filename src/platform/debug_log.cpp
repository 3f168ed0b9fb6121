#include "platform/debug_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

std::atomic<bool> debug_log_enabled{false};

namespace {

// "12:34:56.789 " in local time: enough to line a check up with a server log.
std::string time_stamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms));
  return text;
}

// What the server sends goes to a terminal: control characters (C0, DEL,
// and C1 as UTF-8 writes them) are shown as "\x1b", so that none of them
// can move the cursor, retitle the window or hide a line. UTF-8 text and
// tabs stay as they are.
std::string shown(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xa0 &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80;
    if ((c >= 0x20 && c != 0x7f && !c1) || c == '\t') {
      out += static_cast<char>(c);
      continue;
    }
    const std::size_t count = c1 ? 2 : 1;
    for (std::size_t j = 0; j < count; ++j) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[i + j]));
      out += escape;
    }
    i += count - 1;
  }
  return out;
}

void print(const char* tag, std::string_view text) {
  if (!debug_log_enabled) return;
  const std::string line = shown(text);
  static std::mutex lock;
  const std::lock_guard guard(lock);
  std::fprintf(stderr, "wyke: %s %s %s\n", time_stamp().c_str(), tag, line.c_str());
}

}  // namespace

std::string debug_redacted(std::string_view line, secret_in secret) {
  switch (secret) {
    case secret_in::none:
      return std::string(line);
    case secret_in::whole_line:
      return "***";
    case secret_in::argument:
      break;
  }
  // The command word, and for AUTH its mechanism, stay readable.
  std::string_view::size_type keep = line.find(' ');
  if (keep != std::string_view::npos && line.substr(0, keep) == "AUTH") keep = line.find(' ', keep + 1);
  if (keep == std::string_view::npos) return std::string(line);
  return std::string(line.substr(0, keep + 1)) + "***";
}

void debug_sent(std::string_view line, secret_in secret) {
  if (debug_log_enabled) print("C:", debug_redacted(line, secret));
}

void debug_received(std::string_view line) { print("S:", line); }

void debug_note(const std::string& text) { print("*", text); }
