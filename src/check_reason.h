// Reasons a check gives when the server lets it down, for report_failure:
// one line each, quoting the server where its words help, made safe to
// print first (a status line may carry a terminal's escape sequences).
#pragma once

#include <cstddef>
#include <string>

// A status line quoted in a reason is cut to this many bytes: enough for
// the server's explanation, not enough to flood a terminal or a tooltip.
inline constexpr std::size_t quoted_line_length = 80;

// `line` in double quotes without its line end, as printable_ascii shows it.
std::string quoted_server_line(const std::string& line);

// Why `command` failed, told by the status line that came for it (empty
// when none did). A "+OK" line fails only STAT, when it holds no count.
std::string command_failure(const std::string& command, const std::string& line);

// Why the answer to `command`, begun with "+OK", never reached its "." line.
std::string answer_cut(const std::string& command);
