// The notifier: application, window and views, and the process-wide
// variables that the modules share.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// --- Settings (meaning and defaults: wykesub.h) -------------------------------

extern int fontsize;           // points
extern int checkmail_timer;    // seconds between checks ("checktime")
extern int closewindow_timer;  // seconds after a check until minimized ("closetime")
extern std::vector<std::string> show_header;  // header prefixes to show, in order

// Guards the four settings above: every writer stores them under it, and the
// check cycle copies them under it, so that a settings window saving while a
// check runs (a second one may be open) never tears them.
extern std::mutex settings_lock;

// True while no settings window is open. Written by the notifier's thread
// and by settings windows' threads, hence atomic.
extern std::atomic<bool> f_config;

// --- Check-cycle state -------------------------------------------------------

extern int time_count;            // ticks since the last check ended
extern std::string wyke_header;   // the notifier text: UTF-8, lines joined by "\n"
