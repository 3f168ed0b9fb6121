#include "wyke.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "gui/alert.h"
#include "gui/font.h"
#include "check_reason.h"
#include "gui/message.h"
#include "mimetool.h"
#include "platform/ascii.h"
#include "platform/network_cancel.h"
#include "platform/report.h"
#include "pop3.h"
#include "shown_field.h"
#include "wykesub.h"

// Zero and empty until load() gives them their values.
int fontsize = 0;
int checkmail_timer = 0;
int closewindow_timer = 0;
std::vector<std::string> show_header;
std::mutex settings_lock;
std::atomic<bool> f_config{true};

int time_count = 0;
std::string wyke_header;

settings_snapshot snapshot_settings() {
  std::lock_guard lock(settings_lock);
  return {fontsize, checkmail_timer, closewindow_timer, show_header};
}

int check_interval(int seconds) { return seconds > 0 ? seconds : default_checktime; }

namespace {

constexpr bigtime_t one_second = 1000000;
constexpr rgb_color background = {208, 208, 208, 255};

// --- Reading the maildrop ------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A line ends in CR LF; one cut short by a closed connection ends where it
// stopped and counts as whole.
void strip_line_end(std::string& p) {
  if (!p.empty() && p.back() == '\n') p.pop_back();
  if (!p.empty() && p.back() == '\r') p.pop_back();
}

// How the listing of one message ended.
enum class listed {
  fields,   // its answer ran to the "." line
  refused,  // "-ERR": no such message, skipped without a trace
  failed,   // TOP got no POP3 answer: nothing after it can be trusted
  cut,      // the answer ended with the connection, not with its "." line
  endless,  // the answer ran past max_header_bytes
};

// The header fields of message `i` that `headers` asks for, appended to
// wyke_header after the `lines` already there (and counted in it), one line
// each: a field and its continuation lines are unfolded (the line ends go,
// the folding blanks stay) and only then decoded, so that a word split over a
// fold joins its neighbour. A refused TOP adds none, and neither does an
// endless answer: what it gave is taken back.
listed list_message(POP3& mes, int i, const std::vector<std::string>& headers, int& lines) {
  const status_t top = mes.TOP(i, 0);
  if (top == POP3::POP3_NG) return listed::refused;
  if (top != POP3::POP3_COMMAND_SUCSESS) return listed::failed;
  const std::size_t text_before = wyke_header.size();
  const int lines_before = lines;
  std::size_t read = 0;
  bool print = false;
  std::string field;  // the kept field so far, unfolded, not yet decoded
  const auto show_field = [&] {
    if (print) wyke_header += shown_field(decode_header(field));
  };
  for (std::string p = mes.GetData(); !p.empty(); p = mes.GetData()) {
    read += p.size();
    if (read > max_header_bytes) {
      wyke_header.resize(text_before);
      lines = lines_before;
      return listed::endless;
    }
    strip_line_end(p);
    if (print && !p.empty() && is_blank(p[0])) {
      // A line of blanks alone adds nothing.
      if (p.find_first_not_of(" \t") != std::string::npos) field += p;
      continue;
    }
    show_field();
    print = WykeView::header_check(p, headers);
    if (!print) continue;
    if (lines > 0) wyke_header += "\n";
    field = p;
    ++lines;
  }
  show_field();
  return mes.ResponseEnded() ? listed::fields : listed::cut;
}

// A reason for a listing that stopped `where` ("at" or "after") message `i`.
std::string cut_short(const char* where, int i, int count, const std::string& why) {
  return "listing incomplete " + std::string(where) + " message " + std::to_string(i) + " of " +
         std::to_string(count) + ": " + why;
}

// Messages 1, 2, ... within the bounds that wyke.h gives, into wyke_header
// and `lines`. The plain exchange asks the count again before each one; the
// secured ones keep the first, so that their TOPs can go out ahead. Empty
// when every message the count gave was listed; otherwise why the listing
// stopped.
std::string list_messages(POP3& mes, const std::vector<std::string>& headers, int count, int& lines) {
  int refused = 0;
  for (int i = 1;; ++i) {
    if (mes.RecountsEachMessage()) {
      const std::optional<int> now = mes.MessageCount();
      // Past the last message the count ends the listing, whatever its answer.
      if (!now) return i <= count ? cut_short("at", i, count, command_failure("STAT", mes.GetLastMesg())) : "";
      count = *now;
    }
    if (i > count) return "";
    const auto top = [i] { return "TOP " + std::to_string(i) + " 0"; };
    switch (list_message(mes, i, headers, lines)) {
      case listed::fields:
        refused = 0;
        break;
      case listed::refused:
        ++refused;
        break;
      case listed::failed:
        return cut_short("at", i, count, command_failure(top(), mes.GetLastMesg()));
      case listed::cut:
        return cut_short("at", i, count, answer_cut(top()));
      case listed::endless:
        // The rest of it would be read as the next replies.
        return cut_short("at", i, count,
                         "the answer to " + top() + " ran past " + std::to_string(max_header_bytes) + " bytes");
    }
    if (i == INT_MAX) return "";  // no message number after it
    // The bounds end only a listing with messages left: after the last one
    // comes the STAT that ends the listing, as ever.
    if (i == count) continue;
    if (refused == max_refused_in_a_row)
      return cut_short("after", i, count, "the server refused TOP for " + std::to_string(refused) +
                                              " messages in a row; it counts more messages than it has");
    if (wyke_header.size() >= max_text_bytes)
      return cut_short("after", i, count, "the list reached " + std::to_string(max_text_bytes) + " bytes");
  }
}

// Every message, or "Error" when the server does not say how many there
// are: a failed count is never shown as an empty maildrop. A listing cut
// short ends in a line that says so.
int list_maildrop(POP3& mes, const std::vector<std::string>& headers) {
  const std::optional<int> count = mes.MessageCount();
  if (!count) {
    report_failure("cannot count the messages: " + command_failure("STAT", mes.GetLastMesg()));
    wyke_header = "Error";
    return 1;
  }
  if (*count == 0) {
    wyke_header = no_mail_text;
    return 1;
  }
  int lines = 0;
  const std::string why = list_messages(mes, headers, *count, lines);
  if (why.empty()) return lines;
  report_failure(why);
  if (lines > 0) wyke_header += "\n";
  wyke_header += incomplete_text;
  return lines + 1;
}

// --- Showing the result -----------------------------------------------------------

// A size below 1 would shrink the text, and the window with it, to nothing
// left to click; the setting itself stays as it was typed.
float display_size(int points) { return points >= 1 ? static_cast<float>(points) : default_fontsize; }

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

}  // namespace

// --- The application -------------------------------------------------------------

// A new application starts with the network waits of the last one's close undone.
Wyke::Wyke() : BApplication("application/x-vnd.z_qel-Wyke") { reset_network_cancel(); }

Wyke::~Wyke() = default;

void Wyke::ReadyToRun() {
  WykeWin* windowObj =
      new WykeWin(BRect(50, 50, 100, 100), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
  windowObj->SetPulseRate(one_second);
  time_count = check_interval(snapshot_settings().checkmail_timer);
  WindowAt(0)->ChildAt(0)->Pulse();
  windowObj->Show();
}

void Wyke::AboutRequested() {
  (new BAlert("About", "Wyke " WYKE_VERSION ": lists the new mail waiting on your POP3 server.", "OK", nullptr,
              nullptr, B_WIDTH_AS_USUAL, B_INFO_ALERT))
      ->Go();
}

// --- The window ---------------------------------------------------------------------

WykeWin::WykeWin(BRect frame, const char* title, window_type type, uint32 flags, uint32 workspaces)
    : BWindow(frame, title, type, flags, workspaces) {
  WykeView* viewObj = new WykeView(Bounds(), "content", B_FOLLOW_ALL, B_WILL_DRAW);
  AddChild(viewObj);
  // The window's thread may be in a check waiting on a server: the close
  // box ends that wait at once instead of after its time-outs.
  SetCloseAction(cancel_network_waits);
}

WykeWin::~WykeWin() = default;

void WykeWin::Quit() {
  be_app->PostMessage(B_QUIT_REQUESTED, be_app, nullptr);
  BWindow::Quit();
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

void WykeView::Pulse() {
  if (!f_config) return;
  const settings_snapshot settings = snapshot_settings();
  BWindow* window = Window();

  // Counted wide: with the largest interval there is no int one past it.
  const long long count = static_cast<long long>(time_count) + 1;
  time_count = static_cast<int>(std::min<long long>(count, INT_MAX));
  if (count == settings.closewindow_timer) window->Minimize(true);
  if (count <= check_interval(settings.checkmail_timer)) return;

  const bigtime_t time = window->PulseRate();
  window->SetPulseRate(0);
  const int headers_num = checkmail(settings.show_header);
  const bool status = window->IsActive();
  show_text(window, static_cast<BTextView*>(ChildAt(0)), headers_num, settings.fontsize);
  window->Minimize(false);
  window->Activate(status);
  time_count = 0;
  window->SetPulseRate(time);
}

int WykeView::checkmail(const std::vector<std::string>& headers) {
  report_begin();
  POP3 mes(0);
  int lines = 1;
  wyke_header = "";
  switch (mes.Connect()) {
    case POP3::POP3_UNKNOWN_HOST:
      wyke_header = "Unknown Host";
      break;
    case POP3::POP3_UNKNOWN_USER:
      wyke_header = "Unknown User";
      break;
    case POP3::POP3_WRONG_PASSWORD:
      wyke_header = "Wrong Password";
      break;
    case POP3::POP3_COMMAND_SUCSESS:
      lines = list_maildrop(mes, headers);
      break;
    default:
      wyke_header = "Error";
  }
  mes.QUIT();
  return lines;
}

// Field names are case-insensitive: "Subject:" also keeps "subject:" and
// "SUBJECT:" lines, shown as the message spells them.
bool WykeView::header_check(const std::string& p, const std::vector<std::string>& headers) {
  const auto same_letter = [](char a, char b) { return ascii_lower(a) == ascii_lower(b); };
  for (const std::string& entry : headers)
    if (p.size() >= entry.size() && std::equal(entry.begin(), entry.end(), p.begin(), same_letter)) return true;
  return false;
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
