// The notifier's command line: --help, --version, --debug.
//
// With no arguments the notifier just runs. What the command line asks for is
// worked out here, as text to print and a status to exit with, so that main()
// stays a few lines and the whole of it can be tested without a display.
#pragma once

#include <string>
#include <vector>

// What the command line asks for.
struct command_line {
  bool run = true;     // start the notifier
  bool debug = false;  // print each check's exchange on stderr
  int exit_status = 0; // when not run
  std::string out;     // for stdout, when not run
  std::string err;     // for stderr, when not run

  // Prints `out` and `err` and returns `exit_status`.
  int finish() const;
};

// Exit status for a command line that is not understood.
inline constexpr int usage_exit_status = 2;

// Reads the arguments after the program's name.
command_line read_command_line(const std::vector<std::string>& arguments);
command_line read_command_line(int argc, const char* const* argv);

// The text --help prints: usage, options, the files with their paths for
// this user, and the keys of an account.
std::string help_text();
