// The notifier: application, window and views, and the process-wide
// variables that the modules share.
#pragma once

#include <atomic>
#include <string>
#include <vector>

// --- Settings (meaning and defaults: wykesub.h) -------------------------------

extern int fontsize;           // points
extern int checkmail_timer;    // seconds between checks ("checktime")
extern int closewindow_timer;  // seconds after a check until minimized ("closetime")
extern std::vector<std::string> show_header;  // header prefixes to show, in order

// True while no settings window is open. Written by the notifier's thread
// and by settings windows' threads, hence atomic.
extern std::atomic<bool> f_config;

// --- Check-cycle state -------------------------------------------------------

extern int time_count;            // ticks since the last check ended
extern std::string wyke_header;   // the notifier text: UTF-8, lines joined by "\n"
