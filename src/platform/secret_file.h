// Whether a file that holds passwords may be trusted. Like ssh and
// fetchmail, Wyke wants it to belong to the user running it and to be
// closed to everyone else: a Wyke run as root and pointed at another user's
// folder would otherwise run that user's password_command as root.
#pragma once

#include <sys/stat.h>

#include <string>

// Empty when the file `st` describes may be trusted; otherwise why not, for
// the user, with the command that mends it where there is one.
std::string secret_file_fault(const struct stat& st, const std::string& path);
