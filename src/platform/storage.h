// The settings folder: find_directory and BPath in the platform's shape.
//
// The user settings folder is $XDG_CONFIG_HOME when that is set and absolute,
// else $HOME/.config.
#pragma once

#include <string>

#include "platform/types.h"

enum directory_which {
  B_USER_SETTINGS_DIRECTORY,
};

// A file-system path. Unlike the platform's BPath it never normalises.
class BPath {
 public:
  BPath() = default;
  explicit BPath(const char* path);

  status_t SetTo(const char* path);
  // Adds one more component; a leaf that is empty or absolute is refused.
  status_t Append(const char* leaf);
  // The path, or nullptr when it holds none.
  const char* Path() const;

 private:
  std::string path_;
  status_t init_ = B_ERROR;
};

// Where the settings folder is for this user ($XDG_CONFIG_HOME, else
// ~/.config), whether it exists or not; empty without a usable HOME.
std::string settings_folder();

// Puts the folder `which` into `path`. With `create_it`, missing folders are
// created (mode 0700, parents too). Returns B_OK or a negative error: no HOME,
// a path component that is not a folder, mkdir failing. `volume` is unused.
status_t find_directory(directory_which which, BPath* path, bool create_it = false,
                        void* volume = nullptr);
