// Reads IMAP responses (RFC 3501 section 7) from a transport: a tag ("*" for
// untagged data, "+" for a continuation, or the tag of a command), the
// rest of the line, and the literals the line carries, each read whole as
// the size in its "{N}" says. Bounded like the POP3 reader: a line, a
// literal and a whole response each have a limit, and a server past one
// ends the session rather than the client's memory.
//
// Used by one thread at a time, the one that owns the session.
#pragma once

#include <cstddef>
#include <string>
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
  std::vector<std::string> literals;  // in the order of the line
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

  imap_read read(imap_response& response);
  // Bytes received and not yet read: before a TLS handshake they are
  // dropped, for they are not the server's word.
  void discard_buffered() { buffer_.clear(); begin_ = 0; }
  // Whether a response was begun and not finished when the last read ended.
  bool midway() const { return midway_; }
  // What went wrong with the last read, for the user.
  const std::string& reason() const { return reason_; }

 private:
  // The next line without its CR LF (a bare LF also ends one); false when
  // the transport ends or the line runs past `room`.
  bool read_line(std::string& line, std::size_t room);
  bool read_bytes(std::string& out, std::size_t count);
  bool fill();
  imap_read fail(imap_read how, std::string reason);

  Transport& transport_;
  std::string buffer_;
  std::size_t begin_ = 0;
  bool midway_ = false;
  std::string reason_;
};
