#!/usr/bin/env bash
# Runs a command with openbox managing the X display in $DISPLAY (as on a
# real desktop), and stops the window manager again when the command ends.
# Usage: bash scripts/window-manager.sh COMMAND [ARG...]
set -uo pipefail
wm_log=$(mktemp)
openbox --sm-disable >"$wm_log" 2>&1 &
wm_pid=$!
stop_window_manager() {
  kill "$wm_pid" 2>/dev/null || true
  wait "$wm_pid" 2>/dev/null || true
  rm -f "$wm_log"
}
trap stop_window_manager EXIT

# Managing once it has announced itself on the root window.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  if ! kill -0 "$wm_pid" 2>/dev/null; then
    echo "openbox did not start:" >&2
    cat "$wm_log" >&2
    exit 1
  fi
  sleep 0.1
done
"$@"
