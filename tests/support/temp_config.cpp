#include "temp_config.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wyke_test {

namespace fs = std::filesystem;

TempConfigHome::TempConfigHome() {
  std::string templ = (fs::temp_directory_path() / "wyke-test-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = templ;
  if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
    saved_ = old;
    had_saved_ = true;
  }
  setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
}

TempConfigHome::~TempConfigHome() {
  if (had_saved_)
    setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
  std::error_code ec;
  // A test may have left a folder without write or search permission.
  for (auto it = fs::recursive_directory_iterator(dir_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
  chmod(dir_.c_str(), 0700);
  fs::remove_all(dir_, ec);
}

void TempConfigHome::write(const std::string& leaf, const std::string& bytes, unsigned mode) const {
  const fs::path p = fs::path(dir_) / leaf;
  fs::create_directories(p.parent_path());
  {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  chmod(p.c_str(), mode);
}

std::string TempConfigHome::read(const std::string& leaf) const {
  std::ifstream in(fs::path(dir_) / leaf, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace wyke_test
