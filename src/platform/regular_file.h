// Opening a file whose path the user controls without ever waiting on it.
//
// open() on a named pipe waits for a writer, for ever if none comes, and a
// device or a folder is no settings file at all. The file is therefore
// opened without blocking and refused at once unless it is a regular file.
#pragma once

#include <sys/stat.h>

#include <string>

// A descriptor for reading the regular file at `path` (blocking reads,
// close-on-exec), its status in `st`. Otherwise -1, with errno set (EINVAL
// for a file that is not a regular one) and `why` saying what is wrong in
// words for the user.
int open_regular_file(const std::string& path, struct stat& st, std::string& why);
