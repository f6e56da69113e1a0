#!/usr/bin/env bash
# Takes docs/addfiles.png: the add-files window showing the sample folder, with a folder and a file
# selected and added, on Xvfb.
# Usage: scripts/addfiles-screenshot.sh [PRESET]   (the build preset, release by default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
preset=${1:-release}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target addfiles_shot
mkdir -p docs
# The sample folder on a small volume of its own where we may mount one (root), so that the tree shows
# that drive rather than the folders around the checkout.
work=$(mktemp -d /tmp/brenwick-addfiles.XXXXXX)
mkdir -p "$work/disk"
mounted=no
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=16m backup "$work/disk" 2>/dev/null; then mounted=yes; fi
cp -r "$root/sample" "$work/disk/Backup"
xvfb-run -a -s '-screen 0 1280x1024x24' "$root/build/$preset/tools/window_shot/addfiles_shot" \
    "$work/disk/Backup/" "$root/docs/addfiles.png"
if [ "$mounted" = yes ]; then umount "$work/disk"; fi
rm -rf "$work"
echo "addfiles-screenshot.sh: docs/addfiles.png"
