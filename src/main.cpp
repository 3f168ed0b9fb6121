#include "command_line.h"
#include "platform/debug_log.h"
#include "wyke.h"
#include "wykesub.h"

int main(int argc, char* argv[]) {
  const command_line options = read_command_line(argc, argv);
  if (!options.run) return options.finish();
  debug_log_enabled = options.debug;
  load();
  {
    Wyke appObj;
    appObj.Run();
  }
  return 0;
}
