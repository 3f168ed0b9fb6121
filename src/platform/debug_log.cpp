#include "platform/debug_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/untrusted_text.h"

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

void print(const char* tag, std::string_view text) {
  if (!debug_log_enabled) return;
  const std::string line = escaped_for_log(text);
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
