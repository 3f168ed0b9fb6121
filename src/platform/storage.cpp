#include "platform/storage.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

BPath::BPath(const char* path) { SetTo(path); }

status_t BPath::SetTo(const char* path) {
  if (path == nullptr || *path == '\0') {
    path_.clear();
    return init_ = B_BAD_VALUE;
  }
  path_ = path;
  return init_ = B_OK;
}

status_t BPath::Append(const char* leaf) {
  if (init_ != B_OK) return init_;
  if (leaf == nullptr || *leaf == '\0' || *leaf == '/') return B_BAD_VALUE;
  if (path_.back() != '/') path_ += '/';
  path_ += leaf;
  return B_OK;
}

const char* BPath::Path() const { return init_ == B_OK ? path_.c_str() : nullptr; }

std::string settings_folder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.config";
}

namespace {

status_t is_folder(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -errno;
  return S_ISDIR(st.st_mode) ? B_OK : -ENOTDIR;
}

// mkdir -p with mode 0700 for every folder it makes.
status_t make_folders(const std::string& path) {
  for (std::string::size_type slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return -errno;
    if (slash == std::string::npos) break;
  }
  return is_folder(path);
}

}  // namespace

status_t find_directory(directory_which which, BPath* path, bool create_it, void* /*volume*/) {
  if (path == nullptr || which != B_USER_SETTINGS_DIRECTORY) return B_BAD_VALUE;
  const std::string folder = settings_folder();
  if (folder.empty()) return B_ENTRY_NOT_FOUND;
  const status_t found = create_it ? make_folders(folder) : is_folder(folder);
  if (found != B_OK) return found;
  return path->SetTo(folder.c_str());
}
