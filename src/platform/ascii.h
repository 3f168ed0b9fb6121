// Case folding of protocol words and labels whatever the process's locale:
// the GUI sets the user's locale, and in some (Turkish) "i" is not the
// lower case of "I". Only A to Z change.
#pragma once

#include <string>

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// What isspace() takes for white space in the "C" locale: blank, tab and
// the line and page breaks.
inline bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

inline void to_ascii_lower(std::string& text) {
  for (char& c : text) c = ascii_lower(c);
}
inline void to_ascii_upper(std::string& text) {
  for (char& c : text) c = ascii_upper(c);
}
