#include "news_text.h"

namespace {

std::string counted(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "Sender — Subject", or whichever of them the message has.
std::string line_of(const listed_message& message) {
  if (message.from.empty() || message.subject.empty()) return message.from + message.subject;
  return message.from + " \u2014 " + message.subject;
}

}  // namespace

std::string escape_markup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

notice_text describe(const news& found) {
  notice_text text;
  const std::size_t count = found.messages.size();
  if (count == 0) return text;
  if (found.waiting)
    text.summary = counted(count, "message waiting", "messages waiting");
  else if (count == 1 && !found.messages[0].from.empty())
    text.summary = found.messages[0].from;
  else
    text.summary = counted(count, "new message", "new messages");
  // The newest, which a listing shows last.
  const std::size_t first = count > max_notice_messages ? count - max_notice_messages : 0;
  for (std::size_t i = first; i < count; ++i) {
    if (!text.body.empty()) text.body += "\n";
    // One new message's sender is the summary already.
    const listed_message& message = found.messages[i];
    text.body += escape_markup(count == 1 && !found.waiting && !message.from.empty() ? message.subject : line_of(message));
  }
  if (first > 0) text.body += "\nand " + std::to_string(first) + " more";
  return text;
}
