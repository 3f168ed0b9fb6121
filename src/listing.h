// One message's header lines in, the notifier's lines out. Every protocol
// feeds the same path: the fields the user asked for, each unfolded with its
// continuation lines and only then decoded, made safe to show, and bounded.
// Pure functions of their arguments: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "account_check.h"

inline constexpr const char* no_mail_text = "You have no mail in your maildrop.";
// The last line of a listing that stopped before its last message; the
// reason goes to report_failure.
inline constexpr const char* incomplete_text = "(listing incomplete)";

// Bounds on what a server can make one check do; no real maildrop comes
// near them. Past one the listing ends, and the text keeps what it had
// gathered (an endless answer's own lines aside) and says it is incomplete.
//
// Far more header than mail servers pass on with a message: a header that
// runs on past it is taken as endless.
inline constexpr std::size_t max_header_bytes = 4 << 20;
// Tens of thousands of lines, far more than a window can show: once the text
// holds this much, no further message is listed.
inline constexpr std::size_t max_text_bytes = 4 << 20;
// The messages one check remembers (listed_message): a listing shows no more,
// whatever header fields it shows.
inline constexpr std::size_t max_listed_messages = 1 << 16;
// A listed_message's sender and subject keep this many bytes at most (whole
// characters); they are for a notification's few lines.
inline constexpr std::size_t max_listed_field_bytes = 256;
// A Message-ID longer than a header line may be (RFC 5322) is no identity;
// the message is known by its header's digest instead.
inline constexpr std::size_t max_identity_bytes = 998;

// True when `line` begins with one of `headers`, ASCII letters in any case
// ("Subject:" also keeps "subject:"); an empty entry matches every line.
bool field_wanted(std::string_view line, const std::vector<std::string>& headers);

// The kept fields of one message, appended to `text` after the `lines`
// already there (and counted in `lines`), one line each, joined by "\n".
// Whatever fields are kept, it also gathers what the message is known by:
// its Message-ID (or a digest of its whole header), sender and subject.
class MessageListing {
 public:
  // `whole`: the caller has the whole header at hand and gives it to
  // finish(), so that its digest is taken only for a message without a
  // Message-ID, rather than line by line for every message.
  MessageListing(const std::vector<std::string>& headers, std::string& text, int& lines, bool whole = false);

  // The next header line, its CR LF (or bare LF) included or not. False
  // once the header has run past max_header_bytes: what this message had
  // added is taken back, and the caller reads no more of it.
  bool add(std::string_view line);
  // Shows the last field; once, after the last line. Gives the message as
  // a check remembers it; `header` is every line added where `whole` was
  // given.
  listed_message finish(std::string_view header = {});

 private:
  // The header fields a listed_message is made of.
  enum class own_field { none, message_id, from, subject };

  void end_field();


  const std::vector<std::string>& headers_;
  std::string& text_;
  int& lines_;
  const std::size_t text_before_;
  const int lines_before_;
  std::size_t read_ = 0;
  bool print_ = false;
  std::string field_;  // the kept field so far, unfolded, not yet decoded
  own_field own_ = own_field::none;
  // The listed_message's field at hand while it is not kept (a kept one
  // gathers in field_).
  std::string own_value_;
  listed_message message_;
  const bool whole_;
  std::uint64_t digest_;  // of every line so far, unless whole_
};

// Feeds a whole header block (lines ended by CR LF or LF, as one protocol
// answer carries it) through a MessageListing, and sets `message` when
// given. False when it was endless.
bool list_header_block(std::string_view block, const std::vector<std::string>& headers, std::string& text,
                       int& lines, listed_message* message = nullptr);
