// The notifier: application, window and views, and the process-wide
// variables that the modules share.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "gui/application.h"
#include "gui/text_view.h"
#include "gui/view.h"
#include "gui/window.h"
#include "listing.h"
#include "news.h"

// --- Settings (meaning and defaults: wykesub.h) -------------------------------

extern int fontsize;           // points
extern int checkmail_timer;    // seconds between checks ("checktime")
extern int closewindow_timer;  // seconds after a check until minimized ("closetime")
extern std::vector<std::string> show_header;  // header prefixes to show, in order
extern bool notify_new_mail;   // a desktop notification for news ("notify")
extern bool notify_in_file;    // "notify" was in the file, so a save writes it back

// Guards the settings above: every writer stores them under it, and the
// check cycle copies them under it, so that a settings window saving while a
// check runs (a second one may be open) never tears them.
extern std::mutex settings_lock;

// True while no settings window is open. Written by the notifier's thread
// and by settings windows' threads, hence atomic.
extern std::atomic<bool> f_config;

// The settings as one tick sees them.
struct settings_snapshot {
  int fontsize;
  int checkmail_timer;
  int closewindow_timer;
  std::vector<std::string> show_header;
  bool notify_new_mail;
};
// Copies them together under settings_lock. Any thread.
settings_snapshot snapshot_settings();

// The interval the cycle waits, given checkmail_timer: the default when it is
// 0 or below, since a server polled every second locks the account. The
// setting itself keeps what the user typed.
int check_interval(int seconds);

// --- Check-cycle state -------------------------------------------------------

extern int time_count;            // ticks since the last check ended
extern std::string wyke_header;   // the notifier text: UTF-8, lines joined by "\n"
// The last check's outcome for account 0, its text moved into wyke_header.
extern account_outcome last_outcome;

// Posted to the application when the user clicks a notification: the
// notifier window comes back.
inline constexpr uint32 msg_show_notifier = message_code("wksh");

// --- The application ---------------------------------------------------------

// Runs on the main thread: its hooks run there too.
class Wyke : public BApplication {
 public:
  Wyke();  // signature "application/x-vnd.z_qel-Wyke"
  ~Wyke() override;
  // Makes the notifier window, runs the first check and only then shows the
  // window, so that it first appears holding its result.
  void ReadyToRun() override;
  // A one-line notice in an alert that does not wait.
  void AboutRequested() override;
  // msg_show_notifier: passed on to the notifier window.
  void MessageReceived(BMessage* message) override;
};

// --- The notifier window and its views ------------------------------------------

// The notifier: a background view that ticks, holding the text view.
class WykeWin : public BWindow {
 public:
  WykeWin(BRect frame, const char* title, window_type type, uint32 flags, uint32 workspaces);
  ~WykeWin() override;
  // Closing the notifier ends the program: the application is asked to quit.
  void Quit() override;
  // msg_show_notifier restores the window, leaving the focus where it is.
  void MessageReceived(BMessage* message) override;
};

// "content": ticks once a second and runs the check cycle. Its first child
// is the text view.
class WykeView : public BView {
 public:
  WykeView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags);
  // Empties wyke_header.
  ~WykeView() override;

  // One tick: counts, minimizes on the closing tick, and on the tick after
  // the interval runs a check, tells of its news with a desktop
  // notification and shows its result sized to the text. The window's
  // thread; once on the application's thread at start-up.
  void Pulse() override;

  // One POP3 session with account 0 that rebuilds wyke_header from the header
  // lines beginning with one of `headers`, or sets it to the failure or
  // no-mail text, keeping the rest of the outcome in last_outcome. Returns
  // its line count. Touches no window, view or
  // setting: any thread may call it, with or without an application.
  static int checkmail(const std::vector<std::string>& headers);
  // True when `p` begins with one of `headers` (field names in any case; an empty
  // entry matches every line).
  static bool header_check(const std::string& p, const std::vector<std::string>& headers);

 private:
  NewsTracker news_;  // what this notifier has told of
};

// "contents": the notifier text, neither editable nor selectable.
class WykeTextView : public BTextView {
 public:
  WykeTextView(BRect frame, const char* name, BRect text_rect, uint32 resizing_mode, uint32 flags);
  ~WykeTextView() override;
  // The secondary button alone opens a settings window and pauses the cycle
  // until it closes; every other press does nothing.
  void MouseDown(BPoint where) override;
};
