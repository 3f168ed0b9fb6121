// The line end of a mail protocol's line: CR LF, or the bare LF some servers
// send. A line cut short by a closed connection ends where it stopped.
#pragma once

#include <string_view>

// `line` without its LF and the one CR before it.
inline std::string_view without_line_end(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}
