#include "wyke.h"

#include <algorithm>
#include <cstdio>

#include "every_account.h"
#include "gui/alert.h"
#include "gui/font.h"
#include "gui/message.h"
#include "platform/debug_log.h"
#include "gui/notification.h"
#include "news_text.h"
#include "platform/mail_settings.h"
#include "platform/network_cancel.h"
#include "platform/report.h"
#include "wykesub.h"

// Zero and empty until load() gives them their values.
int fontsize = 0;
int checkmail_timer = 0;
int closewindow_timer = 0;
std::vector<std::string> show_header;
bool notify_new_mail = true;
bool notify_in_file = false;
std::mutex settings_lock;
std::atomic<bool> f_config{true};

int time_count = 0;
std::string wyke_header;
std::vector<account_part> last_parts;

settings_snapshot snapshot_settings() {
  std::lock_guard lock(settings_lock);
  return {fontsize, checkmail_timer, closewindow_timer, show_header, notify_new_mail};
}

int check_interval(int seconds) { return seconds > 0 ? seconds : default_checktime; }

namespace {

constexpr bigtime_t one_second = 1000000;
constexpr rgb_color background = {208, 208, 208, 255};

// --- Showing the result -----------------------------------------------------------

// A size below 1 would shrink the text, and the window with it, to nothing
// left to click; one far above max_shown_fontsize fills the screen with a
// blank window a few letters wide. The setting itself stays as it was typed.
float display_size(int points) {
  return points >= 1 ? static_cast<float>(std::min(points, max_shown_fontsize)) : default_fontsize;
}

// The narrowest content area whose frame still holds the window manager's
// title and close box. Measured under openbox's default theme (screenshots,
// xwininfo): the close box shows from 90 pixels, the whole title "wyke" from
// 140; the rest is room for a wider title font. Narrower, a window cannot be
// closed with the mouse.
constexpr float title_bar_width = 160;

// One line of the platform's default font: a window at least this tall
// leaves something to click on, whatever the font size of its text.
float default_line_height() {
  font_height line;
  BFont().GetHeight(&line);
  return line.ascent + line.descent + line.leading;
}

// Puts wyke_header in the text view and sizes the window to it: exactly, as
// far as the screen leaves room (beyond it the view scrolls and cuts long
// lines, opened at the end, where the newest messages are), and never smaller
// than a title bar is wide or a line of the default font is tall.
void show_text(BWindow* window, BTextView* contents, int headers_num, int points) {
  contents->SetText(wyke_header.c_str(), static_cast<int32>(wyke_header.size()));
  BFont font;
  contents->GetFontAndColor(0, &font);
  font.SetSize(display_size(points));
  contents->SetFontAndColor(&font, B_FONT_ALL);

  float length = 0;
  for (int32 i = 0; i < headers_num; ++i) length = std::max(length, contents->LineWidth(i));
  float height = contents->TextHeight(0, headers_num - 1);
  // No line kept: a square one line high stays, something to click on.
  if (headers_num == 0) length = height = contents->TextHeight(0, 0);

  contents->SetTextRect(BRect(0, 0, length, height));
  // Sizes are a pixel short of the content area's (inclusive rectangles).
  window->ResizeTo(std::max(length, title_bar_width - 1), std::max(height, default_line_height()));
  contents->ScrollToOffset(static_cast<int32>(wyke_header.size()));
  // Why the check failed, for a user who never sees stderr; none when it
  // went well, and then a cut line shows whole under the pointer instead.
  contents->SetToolTip(report_reason().c_str());
}

// --- Telling of news ----------------------------------------------------------------

// What every account of the check found new, as one piece of news: mail
// "waiting" only when each account that had news was listed for the first
// time. Accounts are known by their place among those checked.
news news_of(NewsTracker& tracker, const std::vector<account_part>& parts) {
  news found;
  bool every_one_waiting = true;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    news part = tracker.update(static_cast<int>(i), parts[i].outcome);
    if (part.messages.empty()) continue;
    every_one_waiting = every_one_waiting && part.waiting;
    found.messages.insert(found.messages.end(), part.messages.begin(), part.messages.end());
  }
  found.waiting = !found.messages.empty() && every_one_waiting;
  return found;
}

// One desktop notification for what the check found new, replacing the one
// before; a click on it brings the notifier back. Nothing new: none.
void tell_news(const news& found) {
  const notice_text text = describe(found);
  if (text.summary.empty()) return;
  BNotification notification(B_INFORMATION_NOTIFICATION);
  notification.SetGroup("Wyke");
  notification.SetTitle(text.summary);
  notification.SetContent(text.body);
  notification.SetMessageID("new mail");
  notification.SetIconName("wyke");
  notification.SetCategory("email.arrived");
  notification.SetDesktopEntry("wyke");
  notification.SetOnClickMessage(BMessage(msg_show_notifier));
  notification.Send();
}

}  // namespace

// --- The application -------------------------------------------------------------

// A new application starts with the network waits of the last one's close undone.
Wyke::Wyke() : BApplication("application/x-vnd.z_qel-Wyke") { reset_network_cancel(); }

Wyke::~Wyke() = default;

void Wyke::ReadyToRun() {
  WykeWin* windowObj =
      new WykeWin(BRect(50, 50, 100, 100), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
  windowObj->SetPulseRate(one_second);
  const settings_snapshot settings = snapshot_settings();
  time_count = check_interval(settings.checkmail_timer);
  if (!minimized_windows_come_back())
    std::fputs("wyke: on native Wayland a program cannot bring back its own minimized window, "
               "so the notifier stays shown\n",
               stderr);
  // On screen at once, whatever the server does; the first check fills it
  // as every later one does, on the window's thread, ahead of the first tick.
  BView* view = windowObj->ChildAt(0);
  wyke_header = checking_text;
  show_text(windowObj, static_cast<BTextView*>(view->ChildAt(0)), 1, settings.fontsize);
  windowObj->PostMessage(first_check, view);
  windowObj->Show();
}

void Wyke::AboutRequested() {
  (new BAlert("About", "Wyke " WYKE_VERSION ": lists the new mail waiting on your POP3 server.", "OK", nullptr,
              nullptr, B_WIDTH_AS_USUAL, B_INFO_ALERT))
      ->Go();
}

void Wyke::MessageReceived(BMessage* message) {
  if (message->what != msg_show_notifier) return BApplication::MessageReceived(message);
  if (BWindow* notifier = WindowAt(0)) notifier->PostMessage(msg_show_notifier);
}

// --- The window ---------------------------------------------------------------------

WykeWin::WykeWin(BRect frame, const char* title, window_type type, uint32 flags, uint32 workspaces)
    : BWindow(frame, title, type, flags, workspaces), idle_watchers_([this] {
        // A watcher's thread: the check itself runs on the window's.
        if (!news_posted_.exchange(true)) PostMessage(msg_account_changed);
      }) {
  WykeView* viewObj = new WykeView(Bounds(), "content", B_FOLLOW_ALL, B_WILL_DRAW);
  AddChild(viewObj);
  // The window's thread may be in a check waiting on a server: the close
  // box ends that wait at once instead of after its time-outs.
  SetCloseAction(cancel_network_waits);
}

WykeWin::~WykeWin() = default;

void WykeWin::Quit() {
  idle_watchers_.stop_all();
  be_app->PostMessage(B_QUIT_REQUESTED, be_app, nullptr);
  BWindow::Quit();
}

void WykeWin::MessageReceived(BMessage* message) {
  if (message->what == msg_show_notifier) {
    Minimize(false);
    return;
  }
  if (message->what != msg_account_changed) return BWindow::MessageReceived(message);
  news_posted_ = false;
  if (!f_config) return;
  static_cast<WykeView*>(ChildAt(0))->CheckNow(snapshot_settings());
}

// --- The background view --------------------------------------------------------------

WykeView::WykeView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags)
    : BView(frame, name, resizing_mode, flags | B_PULSE_NEEDED) {
  // As large as its parent, so that it ends where the window does: a text
  // too large for the screen scrolls and cuts its lines at the window's edge.
  WykeTextView* contents = new WykeTextView(BRect(0, 0, frame.Width(), frame.Height()), "contents",
                                            BRect(0, 0, 100, 100), B_FOLLOW_ALL, B_WILL_DRAW);
  contents->MakeEditable(false);
  contents->MakeSelectable(false);
  contents->SetWordWrap(false);
  contents->MakeScrollable(true);
  AddChild(contents);
  SetViewColor(background);
}

WykeView::~WykeView() { wyke_header = ""; }

void WykeView::MessageReceived(BMessage* message) {
  if (message->what == first_check) Pulse();
}

void WykeView::Pulse() {
  if (!f_config) return;
  const settings_snapshot settings = snapshot_settings();
  BWindow* window = Window();

  // Counted wide: with the largest interval there is no int one past it.
  const long long count = static_cast<long long>(time_count) + 1;
  time_count = static_cast<int>(std::min<long long>(count, INT_MAX));
  if (count == settings.closewindow_timer && minimized_windows_come_back()) window->Minimize(true);
  if (count <= check_interval(settings.checkmail_timer)) return;
  CheckNow(settings);
}

void WykeView::CheckNow(const settings_snapshot& settings) {
  BWindow* window = Window();
  const bigtime_t time = window->PulseRate();
  window->SetPulseRate(0);
  const int headers_num = checkmail(settings.show_header);
  // Remembered whether told or not: turned on later, it tells only news.
  const news found = news_of(news_, last_parts);
  if (settings.notify_new_mail) tell_news(found);
  const bool status = window->IsActive();
  show_text(window, static_cast<BTextView*>(ChildAt(0)), headers_num, settings.fontsize);
  window->Minimize(false);
  window->Activate(status);
  debug_note("check ended: " + std::to_string(headers_num) + " lines shown");
  time_count = 0;
  window->SetPulseRate(time);
  // Every account the check covers keeps a watcher where it is IMAP.
  if (auto* notifier = dynamic_cast<WykeWin*>(window)) {
    std::vector<checked_account> checked;
    list_checked_accounts(checked);
    std::vector<int> indexes;
    for (const checked_account& account : checked) indexes.push_back(account.index);
    notifier->idle_watchers().update(indexes, check_interval(settings.checkmail_timer), settings.show_header);
  }
}

int WykeView::checkmail(const std::vector<std::string>& headers) {
  report_begin();
  wyke_header = "";
  last_parts = check_every_account(headers);
  int lines = 0;
  wyke_header = notifier_text(last_parts, lines);
  return lines;
}

bool WykeView::header_check(const std::string& p, const std::vector<std::string>& headers) {
  return field_wanted(p, headers);
}

// --- The text view -----------------------------------------------------------------------

WykeTextView::WykeTextView(BRect frame, const char* name, BRect text_rect, uint32 resizing_mode, uint32 flags)
    : BTextView(frame, name, text_rect, resizing_mode, flags) {}

WykeTextView::~WykeTextView() = default;

void WykeTextView::MouseDown(BPoint) {
  const BMessage* message = Window()->CurrentMessage();
  int32 mouse_button = 0;
  if (message == nullptr || message->FindInt32("buttons", &mouse_button) != B_OK) return;
  if (mouse_button != B_SECONDARY_MOUSE_BUTTON) return;
  f_config = false;
  config();
  time_count = check_interval(snapshot_settings().checkmail_timer);
}
