#include "wykesub.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string_view>

#include "platform/storage.h"

unsigned int buf_size = 255;

namespace {

constexpr const char* config_leaf = "Wyke";
constexpr std::string_view header_line_start = "header = ";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n'; }

// The first whitespace-delimited word of `text`, as `stream >> word` gives it.
std::string first_word(const std::string& text) {
  std::string::size_type begin = 0;
  while (begin < text.size() && is_blank(text[begin])) ++begin;
  std::string::size_type end = begin;
  while (end < text.size() && !is_blank(text[end])) ++end;
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

void set_defaults() {
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
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// A new file beside `target`, created with 0664 less the umask.
int create_temporary(const std::string& target, std::string& name) {
  std::random_device seed;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string::size_type slash = target.rfind('/');
    name = target.substr(0, slash + 1) + ".Wyke." + std::to_string(seed()) + ".tmp";
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool replace_file(const std::string& target, const std::string& bytes) {
  std::string temporary;
  const int fd = create_temporary(target, temporary);
  if (fd < 0) return false;
  bool ok = write_all(fd, bytes);
  struct stat old;
  if (ok && stat(target.c_str(), &old) == 0) ok = fchmod(fd, old.st_mode & 07777) == 0;
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

}  // namespace

bool read_int(const std::string& text, int& value) {
  std::string::size_type i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
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
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    set_defaults();
    save();
    return;
  }
  struct stat st;
  const bool regular = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::FILE* file = regular ? fdopen(fd, "r") : nullptr;
  if (file == nullptr) {
    const std::string why = fd < 0 ? std::strerror(errno) : "not a regular file";
    if (fd >= 0) close(fd);
    warn("cannot read " + path + " (" + why + "); using the default settings and leaving the file as it is");
    set_defaults();
    return;
  }
  parse_file(file);
  std::fclose(file);
  fill_missing_with_defaults();
}

bool save() {
  std::string path;
  if (!config_path(path)) return false;
  return replace_file(resolve_links(path), file_text());
}
