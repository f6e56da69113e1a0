#!/usr/bin/env bash
# The real brenwick program on a real X server (Xvfb): it starts, shows its 600 x 500 window titled
# "Brenwick - v1.0", and ends with status 0 when the window is closed as a window manager closes it.
# Usage: window_xvfb_test.sh BRENWICK XWINDOW
set -euo pipefail
brenwick=$1
xwindow=$2
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (Debian package xvfb)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/runtime  # a runtime folder of its own (the single-instance lock lives there)
export XDG_DATA_HOME=$work/data       # and a recorder set of its own
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

cat >"$work/session.sh" <<'SESSION'
set -u
"$BRENWICK" >"$WORK/out.log" 2>&1 &
pid=$!
if ! "$XWINDOW" wait "Brenwick - v1.0" 60; then
    kill "$pid"; echo "the window did not appear"; cat "$WORK/out.log"; exit 1
fi
size=$("$XWINDOW" geometry "Brenwick - v1.0")
[ "$size" = "600x500" ] || { kill "$pid"; echo "window size $size, not 600x500"; exit 1; }
"$XWINDOW" close "Brenwick - v1.0"
for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then kill "$pid"; echo "the program did not end after its window was closed"; exit 1; fi
wait "$pid"
SESSION
BRENWICK=$brenwick XWINDOW=$xwindow WORK=$work xvfb-run -a -s '-screen 0 1280x1024x24' bash "$work/session.sh"
# The program made its default recorder in the private set.
test -f "$XDG_DATA_HOME/brenwick/recorders/default/state"
echo "brenwick started, showed its window and ended when it was closed"
