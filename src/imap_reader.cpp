#include "imap_reader.h"

#include <algorithm>
#include <charconv>

#include "platform/debug_log.h"

namespace {

constexpr std::size_t receive_size = 16 * 1024;

// The size of the literal announced at the end of `line` ("{123}", or
// "{123+}" as a server may echo it), or npos when the line ends in none;
// `bad` when it ends in braces holding no number.
std::size_t literal_size(std::string_view line, bool& bad) {
  bad = false;
  if (line.empty() || line.back() != '}') return std::string_view::npos;
  const std::size_t open = line.rfind('{');
  if (open == std::string_view::npos) return std::string_view::npos;
  std::string_view digits = line.substr(open + 1, line.size() - open - 2);
  if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
  std::size_t size = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    bad = true;
    return std::string_view::npos;
  }
  return size;
}

// A literal's lines for --debug, as the server sent them.
void debug_literal(std::string_view literal) {
  if (!debug_log_enabled) return;
  while (!literal.empty()) {
    const std::size_t end = std::min(literal.find('\n'), literal.size());
    std::string_view line = literal.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    debug_received(line);
    literal.remove_prefix(std::min(end + 1, literal.size()));
  }
}

}  // namespace

imap_read ImapReader::read(imap_response& response) {
  response = {};
  reason_.clear();
  midway_ = false;
  std::string line;
  if (!read_line(line, imap_max_line_length)) return reason_.empty() ? imap_read::ended : imap_read::too_long;
  midway_ = true;
  debug_received(line);
  const std::size_t space = line.find(' ');
  response.tag = line.substr(0, space);
  if (response.tag.empty()) return fail(imap_read::malformed, "an answer without a tag");
  response.text = space == std::string::npos ? "" : line.substr(space + 1);
  std::size_t total = line.size();
  for (;;) {
    bool bad = false;
    const std::size_t size = literal_size(response.text, bad);
    if (bad) return fail(imap_read::malformed, "a literal whose size is no number");
    if (size == std::string::npos) break;
    if (size > imap_max_literal || total + size > imap_max_response)
      return fail(imap_read::too_long, "a literal of " + std::to_string(size) + " bytes, past the bound of " +
                                           std::to_string(std::min(imap_max_literal, imap_max_response - total)));
    std::string literal;
    if (!read_bytes(literal, size)) return imap_read::ended;
    debug_literal(literal);
    total += size;
    response.literals.push_back(std::move(literal));
    if (!read_line(line, std::min(imap_max_line_length, imap_max_response - total)))
      return reason_.empty() ? imap_read::ended : imap_read::too_long;
    debug_received(line);
    total += line.size();
    response.text += line;
  }
  midway_ = false;
  return imap_read::response;
}

bool ImapReader::read_line(std::string& line, std::size_t room) {
  line.clear();
  for (;;) {
    if (begin_ == buffer_.size() && !fill()) return false;
    const std::size_t lf = buffer_.find('\n', begin_);
    const std::size_t end = lf == std::string::npos ? buffer_.size() : lf;
    if (line.size() + (end - begin_) > room + 1) {
      fail(imap_read::too_long, "a line longer than " + std::to_string(room) + " bytes");
      return false;
    }
    line.append(buffer_, begin_, end - begin_);
    begin_ = lf == std::string::npos ? buffer_.size() : lf + 1;
    if (lf == std::string::npos) continue;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }
}

bool ImapReader::read_bytes(std::string& out, std::size_t count) {
  out.clear();
  out.reserve(std::min(count, receive_size * 4));
  while (out.size() < count) {
    if (begin_ == buffer_.size() && !fill()) return false;
    const std::size_t take = std::min(count - out.size(), buffer_.size() - begin_);
    out.append(buffer_, begin_, take);
    begin_ += take;
  }
  return true;
}

bool ImapReader::fill() {
  buffer_.resize(receive_size);
  begin_ = 0;
  const std::size_t n = transport_.receive_some(buffer_.data(), buffer_.size());
  buffer_.resize(n);
  return n > 0;
}

imap_read ImapReader::fail(imap_read how, std::string reason) {
  reason_ = std::move(reason);
  return how;
}
