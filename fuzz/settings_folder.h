// A private settings folder for a whole fuzzing process: XDG_CONFIG_HOME
// points at a fresh temporary folder, made on first use and removed when the
// process exits normally (a crash leaves it for inspection).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "require.h"

namespace fuzz {

// Memory-backed where possible: save() syncs the file, and a disk sync on
// every run would slow the fuzzer down a hundredfold.
inline std::string temporary_base() {
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
}

// Never destroyed, so that the exit handler can still read it.
inline const std::string& settings_folder() {
  static const std::string* const folder = [] {
    std::string templ = temporary_base() + "/wyke-fuzz-XXXXXX";
    REQUIRE(mkdtemp(templ.data()) != nullptr);
    REQUIRE(setenv("XDG_CONFIG_HOME", templ.c_str(), 1) == 0);
    auto* made = new std::string(templ);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(settings_folder(), ignored);
    });
    return made;
  }();
  return *folder;
}

// Writes `bytes` to a file below the folder (parents made) with exactly `mode`.
inline void write_setting_file(const std::string& leaf, std::string_view bytes, mode_t mode) {
  const std::filesystem::path path = std::filesystem::path(settings_folder()) / leaf;
  std::filesystem::create_directories(path.parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    REQUIRE(out.good());
  }
  REQUIRE(chmod(path.c_str(), mode) == 0);
}

inline std::string read_setting_file(const std::string& leaf) {
  std::ifstream in(std::filesystem::path(settings_folder()) / leaf, std::ios::binary);
  REQUIRE(in.good());
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace fuzz
