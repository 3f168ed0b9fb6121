// Settings: defaults, the configuration file "Wyke" (load, save) and the
// settings window (config, ConfigWin, ConfigView).
#pragma once

#include <string>

#include "gui/view.h"
#include "gui/window.h"
#include "wyke.h"

// --- Defaults and file format ----------------------------------------------

inline constexpr int default_fontsize = 12;
// The largest font size the notifier shows, in points: a line of this stays
// well inside a screen. A larger setting is shown at it and kept as typed.
inline constexpr int max_shown_fontsize = 72;
inline constexpr int default_checktime = 300;
inline constexpr int default_closetime = 15;
inline constexpr const char* default_header1 = "From:";
inline constexpr const char* default_header2 = "Subject:";

inline constexpr const char* header = "# Wyke config file.\n";
inline constexpr const char* footer = "# End of config file.\n";

// Size of the line buffer load() reads with: a line holds at most 254 characters.
extern unsigned int buf_size;

// --- The configuration file --------------------------------------------------

// Fills the settings from the file, or from the defaults. Only a missing file
// is (re)written with the defaults; a file that exists but cannot be read is
// left alone and the reason goes to stderr. Runs on the main thread before
// any window exists.
void load();

// Writes the settings to the file through a temporary file renamed over it,
// so a failed write never leaves a cut file behind. True when every byte was
// written and the file is in place. Any thread: it reads the settings under
// settings_lock.
bool save();
// The same; on failure `why` says what went wrong, for the user.
bool save(std::string& why);

// Reads an int as a formatted stream extraction does (blanks skipped, an
// optional sign, digits up to the first other character). False, leaving
// `value` alone, when there is no number or it does not fit an int.
bool read_int(const std::string& text, int& value);

// --- The settings window -------------------------------------------------------

// Opens a new settings window on its own thread and returns at once. The
// caller has set f_config to false; the window sets it back to true when it
// closes (Save that wrote the file, Cancel, or its close box).
void config();

// Runs the form's buttons: "wkad" Add, "wkdl" Delete, "wksv" Save, "wkcl"
// Cancel. All on the window's own thread.
class ConfigWin : public BWindow {
 public:
  ConfigWin(BRect frame, const char* title, window_type type, uint32 flags, uint32 workspaces);
  ~ConfigWin() override;
  void MessageReceived(BMessage* message) override;
  // The close box acts as Cancel, so the check cycle never stays paused.
  bool QuitRequested() override;
};

// The form: its fourteen controls, found by name by the window's handlers.
class ConfigView : public BView {
 public:
  ConfigView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags);
  // Deletes the entries left in the header list.
  ~ConfigView() override;
};
