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
#include "every_account.h"
#include "idle_watchers.h"
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
// The last check's accounts, in the order checked, with their outcomes.
extern std::vector<account_part> last_parts;

// Posted to the application when the user clicks a notification: the
// notifier window comes back.
inline constexpr uint32 msg_show_notifier = message_code("wksh");

// What the notifier shows from the moment it appears until the first check ends.
inline constexpr const char* checking_text = "Checking for mail...";
// Posted to the background view once at start-up: the first check, at once.
inline constexpr uint32 first_check = message_code("wkfc");

// --- The application ---------------------------------------------------------

// Runs on the main thread: its hooks run there too.
class Wyke : public BApplication {
 public:
  Wyke();  // signature "application/x-vnd.z_qel-Wyke"
  ~Wyke() override;
  // Makes the notifier window and shows it at once, sized to checking_text,
  // with the first check queued ahead of its first tick: the window is on
  // screen, and can be closed, while a slow server keeps that check.
  void ReadyToRun() override;
  // A one-line notice in an alert that does not wait.
  void AboutRequested() override;
  // msg_show_notifier: passed on to the notifier window.
  void MessageReceived(BMessage* message) override;
};

// --- The notifier window and its views ------------------------------------------

// An IDLE watcher's news: an account changed (no fields).
inline constexpr uint32 msg_account_changed = message_code("wkch");

// The notifier: a background view that ticks, holding the text view.
class WykeWin : public BWindow {
 public:
  WykeWin(BRect frame, const char* title, window_type type, uint32 flags, uint32 workspaces);
  ~WykeWin() override;
  // Closing the notifier ends the program: the IDLE connections end at
  // once, and the application is asked to quit.
  void Quit() override;
  // msg_show_notifier restores the window, leaving the focus where it is;
  // msg_account_changed runs a check at once, as the tick would; while a
  // settings window is open, the check after it closes covers it. The
  // window's thread.
  void MessageReceived(BMessage* message) override;
  // The watchers of the IMAP accounts checked; the window's thread.
  IdleWatchers& idle_watchers() { return idle_watchers_; }

 private:
  // News already posted and not yet handled: a burst is one check.
  std::atomic<bool> news_posted_{false};
  IdleWatchers idle_watchers_;
};

// "content": ticks once a second and runs the check cycle. Its first child
// is the text view.
class WykeView : public BView {
 public:
  WykeView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags);
  // Empties wyke_header.
  ~WykeView() override;

  // first_check runs the tick that checks (the window's thread).
  void MessageReceived(BMessage* message) override;

  // One tick: counts, minimizes on the closing tick, and on the tick after
  // the interval runs a check, tells of its news with a desktop
  // notification and shows its result sized to the text. The window's
  // thread. Never minimizes where the window could not come back.
  void Pulse() override;
  // Checks now, shows the result, brings the window back and starts the
  // IDLE watchers of the accounts checked. The window's thread; once on
  // the application's thread at start-up.
  void CheckNow(const settings_snapshot& settings);

  // One check of every account the accounts file includes (every_account.h)
  // that rebuilds wyke_header from the header lines beginning with one of
  // `headers`, or the failure or no-mail texts; with several accounts, each
  // under its heading, keeping every account's outcome in last_parts.
  // Returns its line count. Touches no window, view or
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
