// Feeds arbitrary bytes to load() as the configuration file, checking what
// the rest of the program relies on afterwards (usable numbers, a non-empty
// list of one-word prefixes), that reading never rewrites the file, and that
// save() writes a file from which load() gets back the same settings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "require.h"
#include "settings_folder.h"
#include "wyke.h"
#include "wykesub.h"

namespace {

struct Settings {
  int fontsize;
  int checktime;
  int closetime;
  std::vector<std::string> headers;
  bool operator==(const Settings&) const = default;
};

Settings current() { return {fontsize, checkmail_timer, closewindow_timer, show_header}; }

// load() expects the state of a freshly started process.
Settings load_from_start() {
  fontsize = 0;
  checkmail_timer = 0;
  closewindow_timer = 0;
  show_header.clear();
  load();
  return current();
}

void check_usable(const Settings& settings) {
  REQUIRE(settings.fontsize != 0);
  REQUIRE(settings.checktime != 0);
  REQUIRE(settings.closetime != 0);
  REQUIRE(!settings.headers.empty());
  for (const std::string& entry : settings.headers) {
    REQUIRE(!entry.empty());
    REQUIRE(entry.find_first_of(" \t\r\v\f\n") == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz::write_setting_file("Wyke", text, 0644);

  const Settings loaded = load_from_start();
  check_usable(loaded);
  REQUIRE(fuzz::read_setting_file("Wyke") == text);

  REQUIRE(save());
  REQUIRE(load_from_start() == loaded);
  return 0;
}
