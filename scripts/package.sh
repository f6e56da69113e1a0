#!/usr/bin/env bash
# Builds the Debian package from a release build and checks it: its contents (dpkg-deb -c: the two
# programs, manual pages, desktop entry, icons, completion; everything below /usr, nothing writable but by
# root), its dependencies, and lintian's verdict (errors fail, warnings are shown).
# Usage: scripts/package.sh [BUILD_DIR]   (default build/release, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -G DEB >/dev/null
debs=("$build"/package/brenwick_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package.sh: no single brenwick_*.deb in $build/package" >&2; exit 1; }
deb=${debs[0]}
echo "== $deb"
dpkg-deb -f "$deb" Package Version Architecture Depends Recommends Installed-Size

contents=$(dpkg-deb -c "$deb")
fail=0
expect() {
    grep -q " \./$1\$" <<<"$contents" || { echo "package.sh: the package lacks /$1" >&2; fail=1; }
}
for f in usr/bin/brenwick usr/bin/brenwick-cli usr/share/man/man1/brenwick.1.gz \
    usr/share/man/man1/brenwick-cli.1.gz usr/share/applications/brenwick.desktop \
    usr/share/bash-completion/completions/brenwick-cli usr/share/doc/brenwick/copyright \
    usr/share/doc/brenwick/changelog.Debian.gz; do
    expect "$f"
done
for size in 16 32 48 64 128 256; do expect "usr/share/icons/hicolor/${size}x${size}/apps/brenwick.png"; done
# Nothing outside /usr, nothing that group or others may write, no set-id bits.
awk '{ path = $6; mode = $1
       if (path !~ /^\.\/(usr\/.*)?$/) { print "outside /usr: " path; bad = 1 }
       if (substr(mode, 6, 1) == "w" || substr(mode, 9, 1) == "w") { print "writable: " mode " " path; bad = 1 }
       if (mode ~ /[sS]/) { print "set-id: " mode " " path; bad = 1 }
     } END { exit bad }' <<<"$contents" || fail=1
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libjpeg62-turbo libc6 qt6-qpa-plugins; do
    grep -q "$lib" <<<"$depends" || { echo "package.sh: Depends lacks $lib: $depends" >&2; fail=1; }
done
[ "$fail" -eq 0 ] || exit 1
echo "== contents: $(wc -l <<<"$contents") entries, all below /usr, none writable but by root"

if command -v desktop-file-validate >/dev/null; then desktop-file-validate packaging/brenwick.desktop; fi
if command -v lintian >/dev/null; then
    echo "== lintian"
    lintian --fail-on error --tag-display-limit 0 --suppress-tags initial-upload-closes-no-bugs "$deb"
    echo "lintian: no errors"
else
    echo "== lintian is not installed: only the contents were checked"
fi
