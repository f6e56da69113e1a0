#!/usr/bin/env bash
# Brenwick and the other burning programs continue each other's discs: a DVD+RW volume grown by
# growisofs -M is grown again by a Brenwick backup that imports it, and the reverse; a DVD+R appended by
# xorriso is continued by Brenwick. The volume at LBA 0 (or the last session) holds every tree, as
# xorriso, isoinfo and pycdlib read it.
source "$(dirname "$0")/lib.sh"
need growisofs genisoimage xorriso isoinfo /usr/bin/python3
: "${BRENWICK_CLI:?set BRENWICK_CLI to the brenwick-cli program}"
export XDG_DATA_HOME="$WORK/xdg"  # Brenwick's own image recorders stay inside the test

# brenwick_burn NAME RECORDER SOURCE: a backup of SOURCE/ with "continue" to /dev/sr7; prints its run folder
# as it lies at the top of the volume at LBA 0 or of the last session (LBA in $2's toc).
brenwick_burn() {
    cat >"$WORK/$1.ini" <<PROFILE
[Archives]
n0=$3/
Count=1
[Options]
EraseBefore=0
Import=1
CloseDisc=0
EjectDisc=0
Device=0
Volume=Interop
PROFILE
    expect_run "$WORK/$1.log" on_drive "$2" "$BRENWICK_CLI" burn "$WORK/$1.ini"
}

# run_folder IMAGE LBA: the newest run folder ("yyyy-mm-dd hh.nn") at the top of the session at LBA.
run_folder() {
    isoinfo -i "$1" -T "$2" -J -f | sed -n 's|^/\([0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]\.[0-9][0-9]\)$|\1|p' |
        sort | tail -1
}

# add_backup OUT RUN SOURCE: OUT gets the tree a backup of SOURCE/ puts on the disc under RUN.
add_backup() {
    mkdir -p "$1/$2$3"
    cp -a "$3/." "$1/$2$3/"
}

step "DVD+RW: growisofs -Z, then growisofs -M, then a Brenwick backup grows the same volume"
rec=$(new_recorder gm dvd+rw)
make_tree "$WORK/g1" one
make_tree "$WORK/g2/more" two
genisoimage -quiet -R -J -V FIRST -o "$WORK/g1.iso" "$WORK/g1"
expect_run "$WORK/gz.log" on_drive "$rec" growisofs -Z "$DEV=$WORK/g1.iso"
expect_run "$WORK/gm.log" on_drive "$rec" growisofs -M "$DEV" -R -J "$WORK/g2"
make_tree "$WORK/b1" brenwick
brenwick_burn gm "$rec" "$WORK/b1"
image=$(image_of "$rec")
run=$(run_folder "$image" 0)
[ -n "$run" ] || fail "no run folder at the top of the grown volume"
merge_trees "$WORK/egm" "$WORK/g1" "$WORK/g2"
add_backup "$WORK/egm" "$run" "$WORK/b1"
check_session "$image" 0 "$WORK/egm"

step "DVD+RW: a Brenwick backup, then growisofs -M grows its volume"
# genisoimage takes the names of a previous session from its Rock Ridge entries, else from its ISO 9660
# names; Brenwick's volume has no Rock Ridge, so the grown Joliet tree lists the earlier run under its
# ISO 9660 names. Every entry and every byte of it is still there.
rec=$(new_recorder bg dvd+rw)
brenwick_burn bg "$rec" "$WORK/b1"
image=$(image_of "$rec")
before=$(isoinfo -i "$image" -J -f | wc -l)
make_tree "$WORK/g3/later" three
expect_run "$WORK/bgm.log" on_drive "$rec" growisofs -M "$DEV" -R -J "$WORK/g3"
grep -q "volume descriptor mismatch" "$WORK/bgm.log" && fail "growisofs did not take Brenwick's descriptor set"
after=$(isoinfo -i "$image" -J -f | wc -l)
added=$(cd "$WORK/g3" && find . -mindepth 1 | wc -l)
[ "$after" -eq $((before + added)) ] || fail "the grown volume lists $after entries, not $before + $added"
expect_run "$WORK/bgx.log" xorriso -abort_on FAILURE -read_fs norock -indev "stdio:$image" -osirrox on \
    -extract / "$WORK/rbg"
diff -r "$WORK/g3/later" "$WORK/rbg/later" || fail "growisofs's tree reads back differently"
for f in readme.txt "Docs/random.bin" "Docs/deep/er/Big.BIN"; do
    copy=$(find "$WORK/rbg" -path "$WORK/rbg/later" -prune -o -iname "$(basename "$f")" -print | head -1)
    [ -n "$copy" ] && cmp -s "$copy" "$WORK/b1/$f" || fail "the earlier run's $f is lost in the grown volume"
done

step "DVD+R: two sessions by xorriso, then a Brenwick backup continues the disc"
rec=$(new_recorder xr dvd+r)
make_tree "$WORK/x1" xone
make_tree "$WORK/x2" xtwo
expect_run "$WORK/x1.log" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -joliet on \
    -map "$WORK/x1" /first -commit
expect_run "$WORK/x2.log" on_drive "$rec" xorriso -abort_on FAILURE -dev "$DEV" -joliet on \
    -map "$WORK/x2" /second -commit
brenwick_burn xr "$rec" "$WORK/b1"
mapfile -t starts < <(session_starts "$rec")
[ "${#starts[@]}" -eq 3 ] || fail "three sessions expected: ${starts[*]}"
image=$(image_of "$rec")
last=${starts[2]}
run=$(run_folder "$image" "$last")
[ -n "$run" ] || fail "no run folder in Brenwick's session"
mkdir -p "$WORK/exr/first" "$WORK/exr/second"
cp -a "$WORK/x1/." "$WORK/exr/first/"
cp -a "$WORK/x2/." "$WORK/exr/second/"
add_backup "$WORK/exr" "$run" "$WORK/b1"
check_session "$image" "$last" "$WORK/exr"

echo "PASS"
