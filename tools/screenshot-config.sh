#!/usr/bin/env bash
# Shows the settings window under Xvfb with openbox and saves a PNG of it.
#   tools/screenshot-config.sh [build-dir] [out.png]
# The window opens with the default settings, from a temporary settings folder.
set -euo pipefail
. "$(dirname "$0")/gui-tool-lib.sh"
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$build/config-window.png}

cat >"$work/show-config.cpp" <<'CPP'
#include "gui/application.h"
#include "wykesub.h"

class ShowConfig : public BApplication {
 public:
  ShowConfig() : BApplication("application/x-vnd.z_qel-Wyke") {}
  void ReadyToRun() override {
    f_config = false;
    config();
  }
};

int main() {
  load();
  ShowConfig app;
  app.Run();
  return 0;
}
CPP
compile_tool "$work/show-config.cpp" "$work/show-config" "$build"
export XDG_CONFIG_HOME="$work/config"
start_display
"$work/show-config" >"$work/show-config.log" 2>&1 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --name '^wyke config$' | head -n1)
sleep 1  # the window manager draws its frame
import -window root -crop 400x240+80+60 "$out"
echo "window $window: $(xwininfo -id "$window" | grep -E 'Width|Height' | tr -s ' ' | tr '\n' ' ')"
echo "saved $out"
