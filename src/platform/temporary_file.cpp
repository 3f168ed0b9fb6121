#include "platform/temporary_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <random>
#include <string_view>

namespace {

constexpr std::string_view suffix = ".tmp";

std::string folder_of(const std::string& target) { return target.substr(0, target.rfind('/') + 1); }

// Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "." + ....
std::string prefix_for(const std::string& target) {
  return std::string(".").append(target, target.rfind('/') + 1).append(".");
}

// ".<leaf>.<digits>.tmp" and nothing else.
bool is_temporary_name(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() + suffix.size()) return false;
  if (!name.starts_with(prefix) || !name.ends_with(suffix)) return false;
  const std::string_view number = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  return number.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

int create_temporary(const std::string& target, std::string& name) {
  std::random_device seed;
  for (int attempt = 0; attempt < 16; ++attempt) {
    name = folder_of(target) + prefix_for(target) + std::to_string(seed()) + std::string(suffix);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

int remove_stale_temporaries(const std::string& target, std::chrono::seconds age) {
  const std::string folder = folder_of(target);
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return 0;
  const std::string prefix = prefix_for(target);
  const std::time_t now = std::time(nullptr);
  int removed = 0;
  while (const dirent* entry = readdir(dir)) {
    if (!is_temporary_name(entry->d_name, prefix)) continue;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (now - st.st_mtime <= age.count()) continue;
    if (unlinkat(dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}
