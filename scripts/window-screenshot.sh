#!/usr/bin/env bash
# Takes docs/window.png: the main window during a recording of the sample folder (and 30 MB of filler so
# that the gauges are caught half way) into a private image recorder throttled to 4x, on Xvfb.
# Usage: scripts/window-screenshot.sh [PRESET]   (the build preset, release by default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
preset=${1:-release}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target brenwick-cli window_shot
cli=$root/build/$preset/app/cli/brenwick-cli

work=$root/build/shot
rm -rf "$work"
mkdir -p "$work/files" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime
"$cli" media create default cd-r-80 >/dev/null
"$cli" media speed default 4x >/dev/null
head -c 30000000 /dev/zero >"$work/files/filler.bin"

cat >"$work/window.ini" <<INI
[Archives]
n0=$root/sample/
n1=$work/files/
Count=2
[Options]
Volume=Brenwick sample
INI
mkdir -p docs
xvfb-run -a -s '-screen 0 1280x1024x24' "$root/build/$preset/tools/window_shot/window_shot" \
    "$work/window.ini" "$root/docs/window.png" 40
echo "window-screenshot.sh: docs/window.png"
