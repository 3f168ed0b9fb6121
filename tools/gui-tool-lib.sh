# Helpers for the scripts that run a small program on the GUI kit under a
# display of their own. Source it; it sets $work (removed on exit) and kills
# what it started.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
chmod 700 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# compile_tool SOURCE OUTPUT BUILD_DIR: links SOURCE with the build's wyke_core.
compile_tool() {
  # shellcheck disable=SC2046
  g++ -std=c++20 -O2 -I "$root/src" "$1" "$3/libwyke_core.a" \
    $(pkg-config --cflags --libs Qt6Widgets) -pthread -o "$2"
}

# start_display: Xvfb on a display it picks itself, and openbox on it.
start_display() {
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 3>"$work/display" &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n1 "$work/display")"
  unset QT_QPA_PLATFORM
  openbox >"$work/openbox.log" 2>&1 &
  pids+=($!)
}
