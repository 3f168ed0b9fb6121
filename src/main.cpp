#include <cstdio>

#include "command_line.h"
#include "gui/display.h"
#include "platform/debug_log.h"
#include "wyke.h"
#include "wykesub.h"

int main(int argc, char* argv[]) {
  const command_line options = read_command_line(argc, argv);
  if (!options.run) return options.finish();
  debug_log_enabled = options.debug;
  // Before load(), which writes the settings file at a first start.
  if (const display_choice& display = find_display(); !display.found()) {
    std::fprintf(stderr, "wyke: no display to show the notifier on: %s\n", display.tried.c_str());
    return 1;
  }
  load();
  {
    Wyke appObj;
    appObj.Run();
  }
  return 0;
}
