#!/usr/bin/env bash
# Helpers of the interop tests: real burning programs drive an image recorder presented as /dev/sr7 by
# the preload library; what they wrote is read back from the image with readers the test calls itself.
set -euo pipefail

: "${BRENWICK_PRELOAD_RUN:?set BRENWICK_PRELOAD_RUN to the brenwick-preload-run program}"
INTEROP_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/brw-interop.XXXXXX")
# BRENWICK_INTEROP_KEEP=1 keeps the work folder (recorders, logs) for a look after a failure.
[ -n "${BRENWICK_INTEROP_KEEP:-}" ] || trap 'rm -rf "$WORK"' EXIT
DEV=/dev/sr7
export LC_ALL=C.UTF-8

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
step() { echo "== $*"; }

# A reader or program that is missing fails the test loudly: a skipped check would read as a pass.
need() {
    local p
    for p; do command -v "$p" >/dev/null || fail "$p is not installed (scripts/install-deps.sh installs it)"; done
}

# new_recorder NAME MEDIUM: a new recorder with a blank disc; prints its folder.
new_recorder() {
    local dir="$WORK/rec-$1"
    "$BRENWICK_PRELOAD_RUN" --recorder "$dir" --create "$2" --instant -- true >&2 ||
        fail "cannot create a recorder with a blank $2"
    echo "$dir"
}

# on_drive FOLDER PROGRAM ARGS...: runs the program with the recorder of FOLDER as /dev/sr7.
on_drive() {
    local dir=$1
    shift
    "$BRENWICK_PRELOAD_RUN" --recorder "$dir" --instant -- "$@"
}

image_of() { "$BRENWICK_PRELOAD_RUN" --recorder "$1" --show-image; }

# expect_run LOG PROGRAM ARGS...: runs a command that must succeed; its output goes to LOG.
expect_run() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        fail "command failed: $*"
    fi
}

# expect_refused LOG PATTERN PROGRAM ARGS...: runs a command that must fail with PATTERN in its output.
expect_refused() {
    local log=$1 pattern=$2
    shift 2
    if "$@" >"$log" 2>&1; then
        cat "$log" >&2
        fail "command succeeded but should have been refused: $*"
    fi
    grep -Eq "$pattern" "$log" || { cat "$log" >&2; fail "refusal without '$pattern': $*"; }
}

# make_tree DIR TAG: a small tree with the shapes that matter (empty file, empty folder, one sector,
# sizes across sector boundaries, nesting, spaces and mixed case); TAG makes the contents distinct.
make_tree() {
    local d=$1 tag=$2
    mkdir -p "$d/Docs/deep/er" "$d/empty folder"
    printf 'text of tree %s\n' "$tag" >"$d/readme.txt"
    : >"$d/zero.len"
    head -c 2048 /dev/urandom >"$d/Docs/one sector.bin"
    head -c 100001 /dev/urandom >"$d/Docs/random.bin"
    head -c 1500000 /dev/urandom >"$d/Docs/deep/er/Big.BIN"
    printf '%s' "$tag" >"$d/Docs/deep/tag-$tag.txt"
}

# merge_trees OUT DIR... : the expected disc root after sessions that each added DIR's contents.
merge_trees() {
    local out=$1
    shift
    mkdir -p "$out"
    local d
    for d; do cp -a "$d/." "$out/"; done
}

toc_of() { on_drive "$1" xorriso -abort_on NEVER -outdev "$DEV" -toc 2>&1; }

# read_toc FOLDER: the disc's table of contents as xorriso shows it, in TOC (text) and STARTS (the start
# LBA of each session).
read_toc() {
    TOC=$(toc_of "$1") || true
    mapfile -t STARTS < <(sed -n 's/^\(ISO\|Other\) session *: *[0-9]* *, *\([0-9]*\) *,.*/\2/p' <<<"$TOC")
}

# session_starts FOLDER: the start LBA of each session, one a line.
session_starts() {
    read_toc "$1"
    printf '%s\n' "${STARTS[@]}"
}

# toc_says PATTERN: the last read_toc shows a line matching PATTERN (a basic regular expression).
toc_says() { grep -q "$1" <<<"$TOC" || { echo "$TOC" >&2; fail "the table of contents lacks '$1'"; }; }

# check_session IMAGE LBA EXPECTED: the session at LBA holds exactly the files and folders of EXPECTED,
# byte for byte, as three independent readers see its Joliet tree.
check_session() {
    local image=$1 lba=$2 expected=$3 out="$WORK/readback.$RANDOM"
    expect_run "$out.xorriso.log" xorriso -abort_on FAILURE -return_with SORRY 32 -read_fs norock \
        -load sbsector "$lba" -indev "stdio:$image" -osirrox on -extract / "$out"
    # Each Brenwick run's folder holds its checksum manifest: it must verify with sha256sum on the copy,
    # and it then belongs to what the session is expected to hold.
    local manifest
    while IFS= read -r -d '' manifest; do
        (cd "$out/$(dirname "$manifest")" && sha256sum -c --quiet --strict BRENWICK.SHA256) ||
            fail "the manifest $manifest of the session at LBA $lba does not verify"
        cp -n "$out/$manifest" "$expected/$manifest"
    done < <(cd "$out" && find . -name BRENWICK.SHA256 -print0)
    diff -r "$expected" "$out" || fail "xorriso reads the session at LBA $lba differently"

    # Joliet names may carry the file version ";1"; both forms are valid.
    local raw listed wanted
    raw=$(isoinfo -i "$image" -T "$lba" -J -f) || fail "isoinfo cannot list the session at LBA $lba"
    listed=$(sed 's/;1$//' <<<"$raw" | sort)
    wanted=$(cd "$expected" && find . -mindepth 1 | sed 's|^\.||' | sort)
    [ "$listed" = "$wanted" ] || {
        diff <(echo "$wanted") <(echo "$listed") >&2 || true
        fail "isoinfo lists the session at LBA $lba differently"
    }
    local f name
    while IFS= read -r -d '' f; do
        name="/${f#./}"
        grep -Fxq "$name;1" <<<"$raw" && name="$name;1"
        isoinfo -i "$image" -T "$lba" -J -x "$name" | cmp -s - "$expected/$f" ||
            fail "isoinfo extracts $name of the session at LBA $lba differently"
    done < <(cd "$expected" && find . -type f -print0)

    /usr/bin/python3 "$INTEROP_DIR/readback.py" "$image" "$lba" "$expected" ||
        fail "pycdlib reads the session at LBA $lba differently"
    echo "session at LBA $lba reads back in xorriso, isoinfo and pycdlib"
}
