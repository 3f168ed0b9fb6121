#include "wykesub.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>

#include "gui/alert.h"
#include "gui/controls.h"
#include "gui/list_view.h"
#include "gui/text_view.h"
#include "platform/ascii.h"
#include "platform/regular_file.h"
#include "platform/storage.h"
#include "platform/temporary_file.h"

unsigned int buf_size = 255;

namespace {

constexpr const char* config_leaf = "Wyke";
// Far longer than any save runs: it writes a few hundred bytes and syncs
// them. A temporary left this long by a save is one that was killed.
constexpr std::chrono::minutes longest_save{10};
constexpr std::string_view header_line_start = "header = ";

// The first whitespace-delimited word of `text`, as `stream >> word` gives it.
std::string first_word(const std::string& text) {
  std::string::size_type begin = 0;
  while (begin < text.size() && is_ascii_space(text[begin])) ++begin;
  std::string::size_type end = begin;
  while (end < text.size() && !is_ascii_space(text[end])) ++end;
  return text.substr(begin, end - begin);
}

void warn(const std::string& what) { std::fprintf(stderr, "wyke: %s\n", what.c_str()); }

// Where the configuration file is, the settings folder created if missing.
bool config_path(std::string& out) {
  BPath path;
  if (find_directory(B_USER_SETTINGS_DIRECTORY, &path, true) != B_OK) return false;
  if (path.Append(config_leaf) != B_OK) return false;
  out = path.Path();
  return true;
}

// Notifications are on unless the file turns them off.
void notify_by_default() {
  notify_new_mail = true;
  notify_in_file = false;
}

void set_defaults() {
  std::lock_guard lock(settings_lock);
  notify_by_default();
  fontsize = default_fontsize;
  checkmail_timer = default_checktime;
  closewindow_timer = default_closetime;
  show_header.push_back(default_header1);
  show_header.push_back(default_header2);
}

void fill_missing_with_defaults() {
  if (fontsize == 0) fontsize = default_fontsize;
  if (checkmail_timer == 0) checkmail_timer = default_checktime;
  if (closewindow_timer == 0) closewindow_timer = default_closetime;
  if (show_header.empty()) {
    show_header.push_back(default_header1);
    show_header.push_back(default_header2);
  }
}

// Whether the line save() writes for this prefix is short enough to be read
// back. A longer one would end the next reading there, losing every entry
// after it, so it is left out when read.
bool fits_saved_line(const std::string& entry) {
  return header_line_start.size() + entry.size() + 1 <= buf_size;
}

void parse_line(const std::string& line) {
  const std::string::size_type eq = line.find('=');
  if (eq == std::string::npos) return;
  const std::string key = first_word(line.substr(0, eq));
  const std::string value = line.substr(eq + 1);
  if (!key.empty() && key[0] == '#') return;
  if (key == "fontsize") {
    read_int(value, fontsize);
  } else if (key == "checktime") {
    read_int(value, checkmail_timer);
  } else if (key == "closetime") {
    read_int(value, closewindow_timer);
  } else if (key == "header") {
    std::string word = first_word(value);
    if (!word.empty() && fits_saved_line(word)) show_header.push_back(std::move(word));
  } else if (key == "notify") {
    // Only "no" (in any case) turns it off: a word mistyped keeps them.
    std::string word = first_word(value);
    to_ascii_lower(word);
    notify_new_mail = word != "no";
    notify_in_file = true;
  }
}

// Reads lines of at most buf_size - 1 characters; a longer line ends the
// reading, as does a read error.
void parse_file(std::FILE* file) {
  std::string line;
  for (;;) {
    const int c = std::getc(file);
    if (c == EOF) {
      if (!line.empty()) parse_line(line);
      return;
    }
    if (c == '\n') {
      parse_line(line);
      line.clear();
      continue;
    }
    if (line.size() + 1 >= buf_size) return;
    line.push_back(static_cast<char>(c));
  }
}

std::string file_text() {
  std::ostringstream out;
  out << header;
  out << "fontsize = " << fontsize << "\n";
  out << "checktime = " << checkmail_timer << "\n";
  out << "closetime = " << closewindow_timer << "\n";
  // Not in the defaults: a file that never had it stays as it was.
  if (notify_in_file) out << "notify = " << (notify_new_mail ? "yes" : "no") << "\n";
  for (const std::string& entry : show_header) out << header_line_start << entry << "\n";
  out << footer;
  return out.str();
}

// Follows symbolic links so that a linked settings file is written where it
// lives (dotfile managers link it). Gives up after a bounded number of hops.
std::string resolve_links(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return path;
    target[n] = '\0';
    if (target[0] == '/') {
      path = target;
    } else {
      const std::string::size_type slash = path.rfind('/');
      path = path.substr(0, slash + 1) + target;
    }
  }
  return path;
}

bool write_all(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// 0, or the errno of the step that failed.
int replace_file(const std::string& target, const std::string& bytes) {
  std::string temporary;
  const int fd = create_temporary(target, temporary);
  if (fd < 0) return errno;
  int error = write_all(fd, bytes) ? 0 : errno;
  struct stat old;
  if (!error && stat(target.c_str(), &old) == 0 && fchmod(fd, old.st_mode & 07777) != 0) error = errno;
  if (!error && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && !error) error = errno;
  if (!error && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error) unlink(temporary.c_str());
  return error;
}

}  // namespace

bool read_int(const std::string& text, int& value) {
  std::string::size_type i = 0;
  while (i < text.size() && is_ascii_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  long long number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) number = -number;
  if (number < INT_MIN || number > INT_MAX) return false;
  value = static_cast<int>(number);
  return true;
}

void load() {
  std::string path;
  if (!config_path(path)) {
    warn("cannot find or create the settings folder; using the default settings");
    set_defaults();
    save();
    return;
  }
  remove_stale_temporaries(resolve_links(path), longest_save);
  struct stat st;
  std::string why;
  const int fd = open_regular_file(path, st, why);
  if (fd < 0 && errno == ENOENT) {
    set_defaults();
    save();
    return;
  }
  std::FILE* file = fd >= 0 ? fdopen(fd, "r") : nullptr;
  if (file == nullptr) {
    if (fd >= 0) {
      why = std::strerror(errno);
      close(fd);
    }
    warn("cannot read " + path + " (" + why + "); using the default settings and leaving the file as it is");
    set_defaults();
    return;
  }
  {
    std::lock_guard lock(settings_lock);
    notify_by_default();
    parse_file(file);
    fill_missing_with_defaults();
  }
  std::fclose(file);
}

bool save(std::string& why) {
  std::string path;
  if (!config_path(path)) {
    why = "cannot find or create the settings folder";
    return false;
  }
  std::string text;
  {
    std::lock_guard lock(settings_lock);
    text = file_text();
  }
  const int error = replace_file(resolve_links(path), text);
  if (error != 0) why = path + ": " + std::strerror(error);
  return error == 0;
}

bool save() {
  std::string why;
  return save(why);
}

// --- The settings window ---------------------------------------------------------

namespace {

constexpr uint32 msg_add = message_code("wkad");
constexpr uint32 msg_delete = message_code("wkdl");
constexpr uint32 msg_save = message_code("wksv");
constexpr uint32 msg_cancel = message_code("wkcl");

void DisallowAllChar(BTextView* view) {
  for (uint32 c = 0; c < 256; ++c) view->DisallowChar(c);
}

void AllowNum(BTextView* view) {
  for (const char* c = "0123456789"; *c; ++c) view->AllowChar(uint32(uint8(*c)));
}

void AllowAlpha(BTextView* view) {
  for (const char* c = "abcdefghijklmnopqrstuvwxyz"; *c; ++c) view->AllowChar(uint32(uint8(*c)));
  for (const char* c = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"; *c; ++c) view->AllowChar(uint32(uint8(*c)));
}

// An edit field of the form, framed, added to `form`. Its text is set before
// its limits, so a value longer than the limit shows whole.
BTextView* add_field(BView* form, BRect frame, const char* name, BRect text_rect, const std::string& text,
                     alignment how, int32 max_bytes) {
  auto* field = new BTextView(frame, name, text_rect, B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW);
  field->SetText(text.c_str());
  field->SetWordWrap(false);
  field->SetAlignment(how);
  field->SetMaxBytes(max_bytes);
  form->AddChild(new BScrollView((std::string("scroll ") + name).c_str(), field, B_FOLLOW_LEFT | B_FOLLOW_TOP, 0,
                                 false, false, B_PLAIN_BORDER));
  return field;
}

BTextView* add_number_field(BView* form, BRect frame, const char* name, int value, int32 max_bytes) {
  BTextView* field = add_field(form, frame, name, BRect(0, 0, 33, 12), std::to_string(value), B_ALIGN_RIGHT, max_bytes);
  DisallowAllChar(field);
  AllowNum(field);
  return field;
}

void add_label(BView* form, BRect frame, const char* name, const char* text) {
  form->AddChild(new BStringView(frame, name, text));
}

void add_button(BView* form, BRect frame, const char* name, const char* label, uint32 code) {
  form->AddChild(new BButton(frame, name, label, new BMessage(code)));
}

BTextView* field(BWindow* window, const char* name) { return dynamic_cast<BTextView*>(window->FindView(name)); }

BListView* header_list(BWindow* window) { return dynamic_cast<BListView*>(window->FindView("list header")); }

}  // namespace

void config() {
  ConfigWin* window = new ConfigWin(BRect(100, 100, 410, 235), "wyke config", B_FLOATING_WINDOW, B_NOT_RESIZABLE,
                                    B_CURRENT_WORKSPACE);
  window->Show();
}

ConfigWin::ConfigWin(BRect frame, const char* title, window_type type, uint32 flags, uint32 workspaces)
    : BWindow(frame, title, type, flags, workspaces) {
  AddChild(new ConfigView(Bounds(), "content", B_FOLLOW_ALL, B_WILL_DRAW));
}

ConfigWin::~ConfigWin() = default;

void ConfigWin::MessageReceived(BMessage* message) {
  switch (message->what) {
    case msg_add: {
      BTextView* entry = field(this, "e_header");
      const std::string text = entry->Text();
      if (text.empty()) return;
      header_list(this)->AddItem(new BStringItem(text.c_str()));
      entry->SelectAll();
      entry->Delete();
      return;
    }
    case msg_delete: {
      BListView* list = header_list(this);
      const int32 selected = list->CurrentSelection(0);
      if (selected < 0) return;
      delete list->RemoveItem(selected);
      return;
    }
    case msg_save: {
      // The list keeps its entries until the file is written, so a failed
      // Save loses nothing and can be tried again.
      std::vector<std::string> headers;
      BListView* list = header_list(this);
      for (int32 i = 0; i < list->CountItems(); ++i) headers.emplace_back(list->ItemAt(i)->Text());
      // Read before locking: the lock is never held while waiting for Qt.
      const std::string font = field(this, "e_fontsize")->Text();
      const std::string check = field(this, "e_checktime")->Text();
      const std::string close = field(this, "e_closetime")->Text();
      {
        std::lock_guard lock(settings_lock);
        read_int(font, fontsize);
        read_int(check, checkmail_timer);
        read_int(close, closewindow_timer);
        show_header = std::move(headers);
      }
      std::string why;
      if (!save(why)) {
        (new BAlert("wyke config", ("The settings could not be saved.\n" + why).c_str(), "OK", nullptr, nullptr,
                    B_WIDTH_AS_USUAL, B_WARNING_ALERT))
            ->Go();
        return;
      }
      f_config = true;
      Quit();
      return;
    }
    case msg_cancel:
      f_config = true;
      Quit();
      return;
    default:
      BWindow::MessageReceived(message);
  }
}

bool ConfigWin::QuitRequested() {
  f_config = true;
  return true;
}

ConfigView::ConfigView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags)
    : BView(frame, name, resizing_mode, flags) {
  int font, check, close;
  std::vector<std::string> headers;
  {
    std::lock_guard lock(settings_lock);
    font = fontsize;
    check = checkmail_timer;
    close = closewindow_timer;
    headers = show_header;
  }

  add_label(this, BRect(5, 5, 115, 17), "l_header", "New Header:");
  BTextView* header_field =
      add_field(this, BRect(5, 20, 128, 32), "e_header", BRect(0, 0, 123, 12), std::string(), B_ALIGN_LEFT, 20);
  DisallowAllChar(header_field);
  AllowNum(header_field);
  AllowAlpha(header_field);
  header_field->AllowChar(':');
  header_field->AllowChar('-');

  add_label(this, BRect(175, 5, 295, 17), "l_dheader", "Show Header(s):");
  auto* list = new BListView(BRect(170, 20, 290, 75), "list header", B_SINGLE_SELECTION_LIST);
  for (const std::string& entry : headers) list->AddItem(new BStringItem(entry.c_str()));
  AddChild(new BScrollView("scroll list header", list, B_FOLLOW_LEFT | B_FOLLOW_TOP, 0, false, true, B_PLAIN_BORDER));

  add_button(this, BRect(133, 15, 163, 25), "Add button", "Add", msg_add);
  add_button(this, BRect(255, 78, 295, 98), "Delete button", "Delete", msg_delete);
  add_button(this, BRect(155, 110, 225, 130), "Save button", "Save", msg_save);
  add_button(this, BRect(235, 110, 305, 130), "Cancel button", "Cancel", msg_cancel);

  add_label(this, BRect(5, 45, 115, 57), "l_fontsize", "Font size:");
  add_number_field(this, BRect(120, 45, 153, 57), "e_fontsize", font, 2);
  add_label(this, BRect(5, 65, 115, 77), "l_checktime", "Checking mailbox (sec):");
  add_number_field(this, BRect(120, 65, 153, 77), "e_checktime", check, 5);
  add_label(this, BRect(5, 85, 115, 97), "l_closetime", "Closing window (sec):");
  add_number_field(this, BRect(120, 85, 153, 97), "e_closetime", close, 5);

  SetViewColor(208, 208, 208, 255);
}

ConfigView::~ConfigView() {
  auto* list = dynamic_cast<BListView*>(FindView("list header"));
  if (list == nullptr) return;
  while (BListItem* item = list->RemoveItem(0)) delete item;
}
