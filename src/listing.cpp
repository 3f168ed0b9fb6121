#include "listing.h"

#include <algorithm>

#include "mimetool.h"
#include "platform/ascii.h"
#include "protocol_line.h"
#include "shown_field.h"

namespace {

bool starts_with_space_or_tab(const std::string& p) { return !p.empty() && (p[0] == ' ' || p[0] == '\t'); }

}  // namespace

bool field_wanted(std::string_view line, const std::vector<std::string>& headers) {
  const auto same_letter = [](char a, char b) { return ascii_lower(a) == ascii_lower(b); };
  for (const std::string& entry : headers)
    if (line.size() >= entry.size() && std::equal(entry.begin(), entry.end(), line.begin(), same_letter))
      return true;
  return false;
}

MessageListing::MessageListing(const std::vector<std::string>& headers, std::string& text, int& lines)
    : headers_(headers), text_(text), lines_(lines), text_before_(text.size()), lines_before_(lines) {}

bool MessageListing::add(std::string p) {
  read_ += p.size();
  if (read_ > max_header_bytes) {
    text_.resize(text_before_);
    lines_ = lines_before_;
    print_ = false;
    return false;
  }
  // One cut short by a closed connection counts as whole.
  p.resize(without_line_end(p).size());
  if (print_ && starts_with_space_or_tab(p)) {
    // A line of blanks alone adds nothing.
    if (p.find_first_not_of(" \t") != std::string::npos) field_ += p;
    return true;
  }
  show_field();
  print_ = field_wanted(p, headers_);
  if (!print_) return true;
  if (lines_ > 0) text_ += "\n";
  field_ = std::move(p);
  ++lines_;
  return true;
}

void MessageListing::finish() {
  show_field();
  print_ = false;
}

void MessageListing::show_field() {
  if (print_) text_ += shown_field(decode_header(field_));
}

bool list_header_block(std::string_view block, const std::vector<std::string>& headers, std::string& text,
                       int& lines) {
  MessageListing listing(headers, text, lines);
  while (!block.empty()) {
    const std::size_t end = std::min(block.find('\n'), block.size() - 1) + 1;
    if (!listing.add(std::string(block.substr(0, end)))) return false;
    block.remove_prefix(end);
  }
  listing.finish();
  return true;
}
