#!/usr/bin/env bash
# Measures the CPU time a window ticking once a second takes while idle:
# user + system time of the whole process over SECONDS (default 60), under
# Xvfb with openbox (or offscreen with --offscreen).
#   tools/idle-cpu.sh [build-dir] [--offscreen]
set -euo pipefail
. "$(dirname "$0")/gui-tool-lib.sh"
build=$(cd "${1:-$root/build}" && pwd)
seconds=${SECONDS_TO_MEASURE:-60}

cat >"$work/ticking.cpp" <<'CPP'
#include "gui/application.h"
#include "gui/text_view.h"
#include "gui/window.h"

// A window like the notifier between two checks: a pulse once a second that
// only counts.
class Ticking : public BView {
 public:
  Ticking() : BView(BRect(0, 0, 50, 50), "content", B_FOLLOW_ALL, B_WILL_DRAW | B_PULSE_NEEDED) {
    auto* text = new BTextView(BRect(0, 0, 100, 100), "contents", BRect(0, 0, 100, 100), B_FOLLOW_ALL, B_WILL_DRAW);
    text->SetText("You have no mail in your maildrop.");
    AddChild(text);
  }
  void Pulse() override { ++ticks; }
  int ticks = 0;
};

class App : public BApplication {
 public:
  App() : BApplication("application/x-vnd.z_qel-Wyke") {}
  void ReadyToRun() override {
    auto* window = new BWindow(BRect(50, 50, 300, 80), "wyke", B_TITLED_WINDOW, B_NOT_RESIZABLE, B_ALL_WORKSPACES);
    window->AddChild(new Ticking);
    window->SetPulseRate(1000000);
    window->Show();
  }
};

int main() {
  App app;
  app.Run();
  return 0;
}
CPP
compile_tool "$work/ticking.cpp" "$work/ticking" "$build"
if [ "${2:-}" = "--offscreen" ]; then
  export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
else
  start_display
fi
"$work/ticking" >"$work/ticking.log" 2>&1 &
pid=$!
pids+=("$pid")
sleep 3  # start-up is not idle time
ticks_per_second=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(cpu)
sleep "$seconds"
after=$(cpu)
awk -v b="$before" -v a="$after" -v hz="$ticks_per_second" -v s="$seconds" \
  'BEGIN { cpu = (a - b) / hz; printf "idle CPU over %d s: %.2f s (%.3f%% of one core)\n", s, cpu, 100 * cpu / s }'
