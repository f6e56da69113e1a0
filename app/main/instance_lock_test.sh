#!/usr/bin/env bash
# One brenwick at a time: while one runs, a second start ends at once with status 0 and shows nothing;
# after the first was killed with SIGKILL, a new start takes the lock and runs.
# Usage: instance_lock_test.sh BRENWICK   (on Qt's offscreen platform; the kernel's lock table shows the lock)
set -euo pipefail
brenwick=$1
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work/runtime XDG_DATA_HOME=$work/data QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
mkdir -m 700 "$XDG_RUNTIME_DIR"
lockfile=$XDG_RUNTIME_DIR/Morvandel

# Waits until some process holds the lock, at most 60 s. The kernel's lock table is read rather than
# trying the lock: a try would hold it for a moment, and a brenwick starting in that moment would take
# itself for a second instance and end.
lock_held() {
    [ -e "$lockfile" ] || return 1
    local inode
    inode=$(stat -c %i "$lockfile")
    grep -Eq "FLOCK .*:$inode " /proc/locks
}
wait_for_lock() {
    for _ in $(seq 1 600); do
        lock_held && return 0
        kill -0 "$1" 2>/dev/null || { echo "brenwick ended instead of running"; return 1; }
        sleep 0.1
    done
    echo "brenwick did not take the lock"; return 1
}

"$brenwick" >"$work/first.log" 2>&1 &
first=$!; pids+=("$first")
wait_for_lock "$first"

# The second start: ends by itself, status 0, no output.
timeout 30 "$brenwick" >"$work/second.log" 2>&1 || { echo "second start: status $?"; exit 1; }
[ ! -s "$work/second.log" ] || { echo "second start printed:"; cat "$work/second.log"; exit 1; }
kill -0 "$first" || { echo "the first instance ended"; exit 1; }

# The first dies without any clean-up; the kernel drops its lock and a new start runs.
kill -9 "$first"
wait "$first" 2>/dev/null || true
"$brenwick" >"$work/third.log" 2>&1 &
third=$!; pids+=("$third")
wait_for_lock "$third"
kill "$third"
wait "$third" 2>/dev/null || true
echo "one instance at a time; a start after a killed one runs"
