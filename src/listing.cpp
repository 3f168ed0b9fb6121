#include "listing.h"

#include <algorithm>
#include <cstdio>

#include "mimetool.h"
#include "platform/ascii.h"
#include "protocol_line.h"
#include "shown_field.h"

namespace {

bool starts_with_space_or_tab(std::string_view p) { return !p.empty() && (p[0] == ' ' || p[0] == '\t'); }

bool begins_with(std::string_view line, std::string_view prefix) {
  const auto same_letter = [](char a, char b) { return ascii_lower(a) == ascii_lower(b); };
  return line.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), line.begin(), same_letter);
}

// FNV-1a, 64 bits: stable from one run to the next, which is all a message's
// name in memory needs. A server that makes two headers collide only hides
// its own news.
constexpr std::uint64_t digest_start = 14695981039346656037ull;
std::uint64_t digest_more(std::uint64_t digest, std::string_view bytes) {
  for (const unsigned char c : bytes) digest = (digest ^ c) * 1099511628211ull;
  return digest;
}

// One line, without its line end, and a "\n".
std::uint64_t digest_line(std::uint64_t digest, std::string_view line) {
  return digest_more(digest_more(digest, without_line_end(line)), "\n");
}

// Hands `each` the lines of a header block, each with its LF; false as soon
// as `each` does.
template <class Each>
bool each_line(std::string_view block, Each each) {
  while (!block.empty()) {
    const std::size_t end = std::min(block.find('\n'), block.size() - 1) + 1;
    if (!each(block.substr(0, end))) return false;
    block.remove_prefix(end);
  }
  return true;
}

// The value of a field, its name, colon and blanks at both ends left out.
std::string_view field_value(std::string_view field) {
  const std::size_t colon = field.find(':');
  const std::size_t start = field.find_first_not_of(" \t", colon + 1);
  if (start == std::string_view::npos) return {};
  return field.substr(start, field.find_last_not_of(" \t") + 1 - start);
}

// A shown field cut to max_listed_field_bytes on a character's first byte.
std::string bounded(std::string_view shown) {
  if (shown.size() <= max_listed_field_bytes) return std::string(shown);
  const std::string_view ellipsis = "\u2026";
  std::size_t end = max_listed_field_bytes - ellipsis.size();
  while (end > 0 && (static_cast<unsigned char>(shown[end]) & 0xC0) == 0x80) --end;
  return std::string(shown.substr(0, end)).append(ellipsis);
}

}  // namespace

bool field_wanted(std::string_view line, const std::vector<std::string>& headers) {
  return std::any_of(headers.begin(), headers.end(), [line](const std::string& entry) { return begins_with(line, entry); });
}

MessageListing::MessageListing(const std::vector<std::string>& headers, std::string& text, int& lines, bool whole)
    : headers_(headers),
      text_(text),
      lines_(lines),
      text_before_(text.size()),
      lines_before_(lines),
      whole_(whole),
      digest_(digest_start) {}

bool MessageListing::add(std::string_view p) {
  read_ += p.size();
  if (read_ > max_header_bytes) {
    text_.resize(text_before_);
    lines_ = lines_before_;
    print_ = false;
    return false;
  }
  if (!whole_) digest_ = digest_line(digest_, p);
  // One cut short by a closed connection counts as whole.
  p = without_line_end(p);
  if (starts_with_space_or_tab(p) && (print_ || own_ != own_field::none)) {
    // A line of blanks alone adds nothing.
    if (p.find_first_not_of(" \t") == std::string_view::npos) return true;
    // A kept field gathers into field_ alone.
    (print_ ? field_ : own_value_) += p;
    return true;
  }
  end_field();
  own_ = begins_with(p, "Message-ID:") ? own_field::message_id
         : begins_with(p, "From:")     ? own_field::from
         : begins_with(p, "Subject:")  ? own_field::subject
                                       : own_field::none;
  print_ = field_wanted(p, headers_);
  // Only the lines kept are copied: most of a header is not.
  if (!print_) {
    if (own_ != own_field::none) own_value_.assign(p);
    return true;
  }
  if (lines_ > 0) text_ += "\n";
  field_.assign(p);
  ++lines_;
  return true;
}

listed_message MessageListing::finish(std::string_view header) {
  end_field();
  print_ = false;
  own_ = own_field::none;
  if (message_.identity.empty()) {
    if (whole_) each_line(header, [this](std::string_view line) { return digest_ = digest_line(digest_, line), true; });
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest_));
    message_.identity = std::string("header digest ") + hex;
  }
  return std::move(message_);
}

// The first of each field a listed_message holds counts (a header with two
// is one no mail system writes). A kept field is decoded once: the
// listed_message takes its value from the shown line.
void MessageListing::end_field() {
  std::string shown;
  if (print_) {
    shown = shown_field(decode_header(field_));
    text_ += shown;
  }
  const std::string& field = print_ ? field_ : own_value_;
  const auto shown_value = [&] {
    return print_ ? bounded(field_value(shown)) : bounded(shown_field(decode_header(std::string(field_value(field)))));
  };
  switch (own_) {
    case own_field::none:
      return;
    case own_field::message_id:
      if (message_.identity.empty()) {
        const std::string_view id = field_value(field);
        if (!id.empty() && id.size() <= max_identity_bytes) message_.identity.assign("Message-ID ").append(id);
      }
      return;
    case own_field::from:
      if (message_.from.empty()) message_.from = shown_value();
      return;
    case own_field::subject:
      if (message_.subject.empty()) message_.subject = shown_value();
      return;
  }
}

bool list_header_block(std::string_view block, const std::vector<std::string>& headers, std::string& text,
                       int& lines, listed_message* message) {
  MessageListing listing(headers, text, lines, true);
  if (!each_line(block, [&listing](std::string_view line) { return listing.add(line); })) return false;
  listed_message listed = listing.finish(block);
  if (message != nullptr) *message = std::move(listed);
  return true;
}
