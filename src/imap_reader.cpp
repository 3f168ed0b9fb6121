#include "imap_reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/debug_log.h"

namespace {

// The buffer's first size: what the TLS layer reads ahead at once.
constexpr std::size_t receive_size = 64 * 1024;
// A receive is given at least this much room, a whole TLS record, so that
// none is handed over in slivers.
constexpr std::size_t least_room = 16 * 1024;

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
  response.tag.clear();
  response.text.clear();
  response.literals.clear();
  literals_.clear();
  reason_.clear();
  midway_ = false;
  // A buffer grown for one long response goes back to its first size once
  // what is left of it fits: a session idles for hours.
  if (buffer_.size() > receive_size && end_ - begin_ <= receive_size) {
    std::vector<char> smaller(receive_size);
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_), buffer_.begin() + static_cast<std::ptrdiff_t>(end_),
              smaller.begin());
    buffer_.swap(smaller);
    end_ -= begin_;
    begin_ = 0;
  }
  start_ = begin_;
  std::string_view line;
  if (!read_line(line, imap_max_line_length)) return reason_.empty() ? imap_read::ended : imap_read::too_long;
  midway_ = true;
  debug_received(line);
  const std::size_t space = line.find(' ');
  response.tag.assign(line.substr(0, space));
  if (response.tag.empty()) return fail(imap_read::malformed, "an answer without a tag");
  if (space != std::string_view::npos) response.text.assign(line.substr(space + 1));
  std::size_t total = line.size();
  for (;;) {
    bool bad = false;
    const std::size_t size = literal_size(response.text, bad);
    if (bad) return fail(imap_read::malformed, "a literal whose size is no number");
    if (size == std::string::npos) break;
    if (size > imap_max_literal || total + size > imap_max_response)
      return fail(imap_read::too_long, "a literal of " + std::to_string(size) + " bytes, past the bound of " +
                                           std::to_string(std::min(imap_max_literal, imap_max_response - total)));
    if (!read_bytes(size)) return imap_read::ended;
    debug_literal({buffer_.data() + begin_, size});
    literals_.emplace_back(begin_ - start_, size);
    begin_ += size;
    total += size;
    if (!read_line(line, std::min(imap_max_line_length, imap_max_response - total)))
      return reason_.empty() ? imap_read::ended : imap_read::too_long;
    debug_received(line);
    total += line.size();
    response.text += line;
  }
  // Only now: the buffer may have moved while the response came.
  for (const auto& [offset, size] : literals_) response.literals.emplace_back(buffer_.data() + start_ + offset, size);
  midway_ = false;
  return imap_read::response;
}

bool ImapReader::read_line(std::string_view& line, std::size_t room) {
  std::size_t scanned = 0;  // from begin_, which a fill may move
  for (;;) {
    const std::size_t from = begin_ + scanned;
    const void* const lf = from < end_ ? std::memchr(buffer_.data() + from, '\n', end_ - from) : nullptr;
    const std::size_t end = lf == nullptr ? end_ : static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data());
    if (end - begin_ > room + 1) {
      fail(imap_read::too_long, "a line longer than " + std::to_string(room) + " bytes");
      return false;
    }
    if (lf != nullptr) {
      line = {buffer_.data() + begin_, end - begin_};
      begin_ = end + 1;
      if (line.ends_with('\r')) line.remove_suffix(1);
      return true;
    }
    scanned = end_ - begin_;
    if (!fill()) return false;
  }
}

bool ImapReader::read_bytes(std::size_t count) {
  while (end_ - begin_ < count)
    if (!fill()) return false;
  return true;
}

bool ImapReader::fill() {
  if (buffer_.size() - end_ < least_room && start_ > 0) {
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(start_), buffer_.begin() + static_cast<std::ptrdiff_t>(end_),
              buffer_.begin());
    begin_ -= start_;
    end_ -= start_;
    start_ = 0;
  }
  // What is left is all this response, whose bounds bound the buffer too.
  if (buffer_.size() - end_ < least_room) buffer_.resize(std::max(receive_size, 2 * buffer_.size()));
  const std::size_t n = transport_.receive_some(buffer_.data() + end_, buffer_.size() - end_);
  end_ += n;
  return n > 0;
}

imap_read ImapReader::fail(imap_read how, std::string reason) {
  reason_ = std::move(reason);
  return how;
}
