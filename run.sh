#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Brenwick and runs its main job: a backup of the shipped sample folder
# into an image recorder, verified by reading it back through the drive, its sessions listed and checked
# against their checksum manifests, and read back afterwards by a third-party ISO 9660 reader (xorriso).
# Needs no optical drive and no display.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target brenwick-cli
cli=$root/build/release/app/cli/brenwick-cli

# A recorder set of its own, with a blank disc in the recorder "default", so that every run starts alike
# and the user's own recorders stay untouched.
run=$root/build/run
rm -rf "$run"
mkdir -p "$run"
export XDG_DATA_HOME=$run/data

profile=$run/sample.ini
cat >"$profile" <<INI
[Archives]
n0=$root/sample/
Count=1
[Options]
EraseBefore=0
Import=0
CloseDisc=0
EjectDisc=0
Verify=1
Device=0
Volume=Brenwick sample
OpenPath=$root/sample
INI

echo "== devices"
"$cli" devices
echo "== burn $profile"
status=0
"$cli" burn "$profile" || status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
    echo "run.sh: the backup failed (exit status $status)" >&2
    exit "$status"
fi

echo "== the sessions of the disc, each checked against its manifest"
"$cli" sessions --check

image=$XDG_DATA_HOME/brenwick/recorders/default/disc.img
echo "== the disc as xorriso reads it back ($image)"
xorriso -abort_on FAILURE -indev "$image" -find / -exec lsdl -- 2>/dev/null
