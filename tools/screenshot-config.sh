#!/usr/bin/env bash
# Shows the settings window under Xvfb with openbox and saves a PNG of it.
#   tools/screenshot-config.sh [build-dir] [out.png]
# Builds a small program against the build's wyke_core that opens the window
# with the default settings in a temporary settings folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/build/config-window.png}
work=$(mktemp -d)
chmod 700 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

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
# shellcheck disable=SC2046
g++ -std=c++20 -fPIC -I "$root/src" "$work/show-config.cpp" "$build/libwyke_core.a" \
  $(pkg-config --cflags --libs Qt6Widgets) -pthread -o "$work/show-config"

export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 3>"$work/display" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
unset QT_QPA_PLATFORM
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
"$work/show-config" >"$work/show-config.log" 2>&1 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --name '^wyke config$' | head -n1)
sleep 1  # let the window manager draw its frame
import -window root -crop 400x240+80+60 "$out"
echo "window $window: $(xwininfo -id "$window" | grep -E 'Width|Height' | tr -s ' ' | tr '\n' ' ')"
echo "saved $out"
