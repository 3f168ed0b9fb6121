// Text that came from outside (a server's line, a certificate's name, a
// helper command's stderr) made safe to show: on a terminal, control bytes
// would move the cursor, retitle the window or hide a line. Pure functions:
// any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// For the debug log, which shows every byte: control characters (C0, DEL,
// and C1 as UTF-8 writes them) become "\x1b"-style escapes; tabs and other
// UTF-8 text stay as they are.
std::string escaped_for_log(std::string_view text);

// For a reason or a tooltip, one short line: every byte outside printable
// ASCII becomes "?", and a text longer than `max_bytes` is cut there with
// "..." after it.
std::string printable_ascii(std::string_view text, std::size_t max_bytes);
