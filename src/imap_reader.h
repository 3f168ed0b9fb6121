// Reads IMAP responses (RFC 3501 section 7) from a transport: a tag ("*" for
// untagged data, "+" for a continuation, or the tag of a command), the
// rest of the line, and the literals the line carries, each read whole as
// the size in its "{N}" says. Bounded like the POP3 reader: a line, a
// literal and a whole response each have a limit, and a server past one
// ends the session rather than the client's memory.
//
// The transport is read in large chunks into one buffer, and a response is
// parsed where it lies: its literals are views into that buffer, not copies,
// for a listing's thousands of headers.
//
// Used by one thread at a time, the one that owns the session.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/transport.h"

// The longest line kept, CR LF excluded; IMAP lines are short, except a
// SEARCH answer, whose numbers for a mailbox of 100,000 messages fit.
inline constexpr std::size_t imap_max_line_length = 1 << 20;
// One literal: the header of one message, as the listing bounds it.
inline constexpr std::size_t imap_max_literal = 4 << 20;
// All the lines and literals of one response.
inline constexpr std::size_t imap_max_response = 8 << 20;

struct imap_response {
  std::string tag;    // "*", "+", or a command's tag
  // The words after the tag, each literal kept as the "{N}" that announced
  // it, so that what follows it parses as on one line.
  std::string text;
  // In the order of the line: views into the reader's buffer, valid until
  // its next read or discard_buffered().
  std::vector<std::string_view> literals;
};

// How a read ended.
enum class imap_read {
  response,  // a whole response
  ended,     // the transport gave nothing more (transport.error() says why)
  too_long,  // a line, a literal or the response ran past its bound
  malformed, // no tag, or a literal size that is no number
};

class ImapReader {
 public:
  explicit ImapReader(Transport& transport) : transport_(transport) {}

  // The next response into `response`, whose strings keep their room from
  // one read to the next.
  imap_read read(imap_response& response);
  // Bytes received and not yet read: before a TLS handshake they are
  // dropped, for they are not the server's word.
  void discard_buffered() { start_ = begin_ = end_ = 0; }
  // Whether a response was begun and not finished when the last read ended.
  bool midway() const { return midway_; }
  // What went wrong with the last read, for the user.
  const std::string& reason() const { return reason_; }

 private:
  // The next line without its CR LF (a bare LF also ends one), as a view
  // into the buffer valid until the next fill; false when the transport
  // ends or the line runs past `room`.
  bool read_line(std::string_view& line, std::size_t room);
  // Makes `count` bytes from begin_ lie in the buffer; false when the
  // transport ends first.
  bool read_bytes(std::size_t count);
  // Receives more after end_: into the room left, else with the response
  // so far moved to the front, else into a larger buffer.
  bool fill();
  imap_read fail(imap_read how, std::string reason);

  Transport& transport_;
  std::vector<char> buffer_;
  std::size_t start_ = 0;  // where the response being read begins
  std::size_t begin_ = 0;  // the first byte not yet parsed
  std::size_t end_ = 0;    // the end of what was received
  // The literals of the response being read, as (offset from start_,
  // size): the buffer may move while it is read.
  std::vector<std::pair<std::size_t, std::size_t>> literals_;
  bool midway_ = false;
  std::string reason_;
};
