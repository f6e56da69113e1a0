#!/usr/bin/env bash
# The install round trip of the Debian package, for CI machines only (CI=true): it installs the package
# system-wide, which on a developer's machine would replace an installed copy. Installs with apt-get (so
# missing dependencies show), runs the installed brenwick-cli (--version, a backup into an image recorder,
# its sessions checked), starts the installed brenwick under Xvfb and closes it, finds the manual page,
# then removes the package and checks that nothing of it is left.
# Usage: CI=true scripts/package-roundtrip.sh DEB XWINDOW
set -euo pipefail
if [ "${CI:-}" != "true" ]; then
    echo "package-roundtrip.sh: runs only in CI (CI=true): it installs and removes the brenwick package" >&2
    exit 2
fi
deb=$(realpath "$1")
xwindow=$(realpath "$2")
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if dpkg-query -W -f='${Status}' brenwick 2>/dev/null | grep -q "install ok installed"; then
    echo "package-roundtrip.sh: brenwick is installed already; not replacing it" >&2
    exit 1
fi
for tool in man xvfb-run; do
    command -v "$tool" >/dev/null || { echo "package-roundtrip.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
installed=0
cleanup() {
    [ "$installed" -eq 1 ] && DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq brenwick >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

echo "== apt-get install $deb"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$deb"
installed=1
dpkg -L brenwick >"$work/files"

echo "== the installed brenwick-cli"
[ "$(command -v brenwick-cli)" = /usr/bin/brenwick-cli ]
brenwick-cli --version
export XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$work/src/docs"
echo "quarterly figures" >"$work/src/docs/report.txt"
echo "notes" >"$work/src/notes.txt"
cat >"$work/backup.ini" <<INI
[Archives]
n0=$work/src/
Count=1
[Options]
Verify=1
Device=0
Volume=Round trip
INI
/usr/bin/brenwick-cli burn "$work/backup.ini"
/usr/bin/brenwick-cli sessions --check
/usr/bin/brenwick-cli ls | grep -q "report.txt" || { echo "the backup does not list report.txt" >&2; exit 1; }

echo "== the installed brenwick under Xvfb"
cat >"$work/session.sh" <<'SESSION'
set -u
/usr/bin/brenwick >"$WORK/window.log" 2>&1 &
pid=$!
if ! "$XWINDOW" wait "Brenwick - v1.0" 60; then
    kill "$pid"; echo "the window did not appear"; cat "$WORK/window.log"; exit 1
fi
"$XWINDOW" close "Brenwick - v1.0"
for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then kill "$pid"; echo "brenwick did not end when its window was closed"; exit 1; fi
wait "$pid"
SESSION
(unset QT_QPA_PLATFORM; WORK=$work XWINDOW=$xwindow xvfb-run -a -s '-screen 0 1280x1024x24' bash "$work/session.sh")

echo "== man -w brenwick-cli"
if grep -qs "^path-exclude=/usr/share/man" /etc/dpkg/dpkg.cfg.d/*; then
    echo "this machine's dpkg leaves manual pages out (path-exclude): not checked"
else
    man -w brenwick-cli
    man -w brenwick
fi

echo "== apt-get purge brenwick"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq brenwick
installed=0
if dpkg-query -W -f='${Status}' brenwick 2>/dev/null | grep -q "installed"; then
    echo "brenwick is still installed" >&2; exit 1
fi
left=0
while read -r path; do
    [ -e "$path" ] || continue
    # A folder other packages share (/usr/bin, /usr/share/man/man1) stays; a file, or a folder no package
    # owns any more, is left behind.
    if [ ! -d "$path" ] || ! dpkg -S "$path" >/dev/null 2>&1; then
        echo "left behind: $path" >&2
        left=1
    fi
done <"$work/files"
[ "$left" -eq 0 ]
! command -v brenwick-cli >/dev/null
echo "installed, used, removed: nothing left behind"
