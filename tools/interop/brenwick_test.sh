#!/usr/bin/env bash
# Brenwick itself through the preload library: brenwick-cli finds /dev/sr7 as a real drive (through its
# own device scan, open, SCSI_IOCTL_GET_IDLUN and SG_IO); whole backups land on the disc through SG_IO and
# read back, also from a briefly busy drive, while a drive that vanishes fails the backup and a drive another
# program holds exclusively refuses the job before it starts. The cross
# checks: a disc started by xorriso is continued by a Brenwick backup that imports it, and a disc written
# by Brenwick is continued by xorriso, then erased by Brenwick. Every file of every session reads back in
# xorriso, isoinfo and pycdlib, and comes back through brenwick-cli sessions, ls and restore, a session
# without Joliet by its ISO 9660 names.
source "$(dirname "$0")/lib.sh"
need xorriso isoinfo /usr/bin/python3
: "${BRENWICK_CLI:?set BRENWICK_CLI to the brenwick-cli program}"
export XDG_DATA_HOME="$WORK/xdg"  # Brenwick's own image recorders stay inside the test

# write_profile FILE SOURCE IMPORT: a profile that backs up SOURCE/ to the first device, /dev/sr7.
write_profile() {
    cat >"$1" <<PROFILE
[Archives]
n0=$2/
Count=1
[Options]
EraseBefore=0
Import=$3
CloseDisc=0
EjectDisc=0
Device=0
Volume=Interop
PROFILE
}

# backup_root IMAGE LBA: the run folder ("yyyy-mm-dd hh.nn") a Brenwick session put at its top.
backup_root() {
    isoinfo -i "$1" -T "$2" -J -f | sed -n 's|^/\([0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]\.[0-9][0-9]\)$|\1|p' |
        sort | tail -1
}

# expect_backup OUT RUN SOURCE: OUT gets the tree a backup of SOURCE/ puts on the disc under RUN.
expect_backup() {
    mkdir -p "$1/$2$3"
    cp -a "$3/." "$1/$2$3/"
}

step "brenwick-cli devices lists /dev/sr7 as a drive beside the image recorders"
rec=$(new_recorder devices dvd+r)
on_drive "$rec" "$BRENWICK_CLI" devices >"$WORK/devices.log" 2>"$WORK/devices.err" ||
    { cat "$WORK/devices.log" "$WORK/devices.err"; fail "brenwick-cli devices failed"; }
head -1 "$WORK/devices.log" | grep -Eq "^0 +/dev/sr7 +0:0:0,/dev/sr7 BRENWICK *IMAGE RECORDER" ||
    { cat "$WORK/devices.log"; fail "the first entry should be the drive /dev/sr7 at 0:0:0"; }
[ "$(wc -l <"$WORK/devices.log")" -ge 2 ] || { cat "$WORK/devices.log"; fail "the image recorders are missing"; }
grep -v "/dev/sr7" "$WORK/devices.log" | grep -Eq "^1 +default +1:0:0,\?:" ||
    { cat "$WORK/devices.log"; fail "the image recorders should follow as adapter 1"; }

step "a whole backup through SG_IO to a blank CD-R"
rec=$(new_recorder backup cd-r-80)
make_tree "$WORK/src1" one
write_profile "$WORK/one.ini" "$WORK/src1" 0
expect_run "$WORK/burn1.log" on_drive "$rec" "$BRENWICK_CLI" burn "$WORK/one.ini"
grep -q "backup done" "$WORK/burn1.log" || { cat "$WORK/burn1.log"; fail "no summary line"; }
image=$(image_of "$rec")
mapfile -t starts < <(session_starts "$rec")
[ "${#starts[@]}" -eq 1 ] || fail "one session expected: ${starts[*]}"
run=$(backup_root "$image" 0)
[ -n "$run" ] || fail "no run folder at the top of the disc"
expect_backup "$WORK/e1" "$run" "$WORK/src1"
check_session "$image" 0 "$WORK/e1"

step "a briefly busy, not ready drive: the backup waits and lands whole"
rec=$(new_recorder busy dvd+r)
printf 'busy-writes 3\nnot-ready 2\n' >"$rec/faults"
write_profile "$WORK/busy.ini" "$WORK/src1" 0
expect_run "$WORK/busy.log" on_drive "$rec" "$BRENWICK_CLI" burn "$WORK/busy.ini"
image=$(image_of "$rec")
run=$(backup_root "$image" 0)
expect_backup "$WORK/ebusy" "$run" "$WORK/src1"
check_session "$image" 0 "$WORK/ebusy"

step "a drive that vanishes mid-backup: the backup fails, with the reason, never a success"
rec=$(new_recorder vanish dvd+r)
printf 'vanish-after-writes 5\n' >"$rec/faults"
expect_refused "$WORK/vanish.log" "backup failed" on_drive "$rec" "$BRENWICK_CLI" burn "$WORK/busy.ini"
grep -q "SELECTION TIMEOUT" "$WORK/vanish.log" || { cat "$WORK/vanish.log"; fail "the lost drive is not named"; }
grep -q "backup done" "$WORK/vanish.log" && { cat "$WORK/vanish.log"; fail "a lost drive reported success"; }

step "a drive another program holds exclusively: the backup and the erase do not start, the disc stays blank"
rec=$(new_recorder inuse cd-rw-80)
# The holder opens /dev/sr7 with O_EXCL, as a burning program does, and keeps it until it is killed.
cat >"$WORK/hold.sh" <<'HOLD'
/usr/bin/python3 -c 'import os, time
fd = os.open("/dev/sr7", os.O_RDWR | os.O_EXCL | os.O_NONBLOCK)
open(os.environ["HELD"], "w").write("held")
time.sleep(120)' &
holder=$!
for _ in $(seq 1 100); do [ -s "$HELD" ] && break; sleep 0.1; done
status=0
"$@" || status=$?
kill "$holder"
exit "$status"
HOLD
for job in burn erase; do
    expect_refused "$WORK/inuse-$job.log" "IS IN USE BY ANOTHER PROGRAM OR MOUNTED" env HELD="$WORK/held-$job" \
        "$BRENWICK_PRELOAD_RUN" --recorder "$rec" --instant -- bash "$WORK/hold.sh" "$BRENWICK_CLI" "$job" "$WORK/busy.ini"
    grep -q "<<< DRIVE /dev/sr7 IS IN USE BY ANOTHER PROGRAM OR MOUNTED" "$WORK/inuse-$job.log" ||
        { cat "$WORK/inuse-$job.log"; fail "the $job did not name the drive in use"; }
done
read_toc "$rec"
toc_says "^Media status : is blank"

step "a disc written by Brenwick is continued by xorriso"
rec=$(new_recorder cross2 cd-rw-80)
make_tree "$WORK/src3" three
write_profile "$WORK/three.ini" "$WORK/src3" 0
expect_run "$WORK/burn3.log" on_drive "$rec" "$BRENWICK_CLI" burn "$WORK/three.ini"
image=$(image_of "$rec")
run=$(backup_root "$image" 0)
expect_backup "$WORK/eb1" "$run" "$WORK/src3"
check_session "$image" 0 "$WORK/eb1"
make_tree "$WORK/x2" after
expect_run "$WORK/x2.log" on_drive "$rec" xorriso -abort_on FAILURE -dev "$DEV" -joliet on \
    -map "$WORK/x2" /afterbrenwick -commit
mapfile -t starts < <(session_starts "$rec")
[ "${#starts[@]}" -eq 2 ] || fail "two sessions expected: ${starts[*]}"
merge_trees "$WORK/eb2" "$WORK/eb1"
mkdir -p "$WORK/eb2/afterbrenwick" && cp -a "$WORK/x2/." "$WORK/eb2/afterbrenwick/"
check_session "$image" 0 "$WORK/eb1"
check_session "$image" "${starts[1]}" "$WORK/eb2"

step "brenwick-cli erase blanks that CD-RW through SG_IO"
expect_run "$WORK/erase.log" on_drive "$rec" "$BRENWICK_CLI" erase "$WORK/three.ini" --yes
read_toc "$rec"
toc_says "^Media status : is blank"
[ ! -s "$image" ] || fail "the erased disc still holds data"
step "a disc started by xorriso is continued by a Brenwick backup that imports it"
rec=$(new_recorder cross1 dvd+r)
make_tree "$WORK/x1" xorriso
expect_run "$WORK/x1.log" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -joliet on \
    -map "$WORK/x1" /fromxorriso -commit
make_tree "$WORK/src2" two
write_profile "$WORK/two.ini" "$WORK/src2" 1
expect_run "$WORK/burn2.log" on_drive "$rec" "$BRENWICK_CLI" burn "$WORK/two.ini"
image=$(image_of "$rec")
mapfile -t starts < <(session_starts "$rec")
[ "${#starts[@]}" -eq 2 ] || fail "two sessions expected: ${starts[*]}"
mkdir -p "$WORK/ex1/fromxorriso" && cp -a "$WORK/x1/." "$WORK/ex1/fromxorriso/"
check_session "$image" 0 "$WORK/ex1"
run=$(backup_root "$image" "${starts[1]}")
[ -n "$run" ] || fail "no run folder in Brenwick's session"
merge_trees "$WORK/ex2" "$WORK/ex1"
expect_backup "$WORK/ex2" "$run" "$WORK/src2"
check_session "$image" "${starts[1]}" "$WORK/ex2"

step "brenwick-cli sessions, ls and restore on that disc: xorriso's session and Brenwick's"
expect_run "$WORK/sessions.log" on_drive "$rec" "$BRENWICK_CLI" sessions
grep -q "^session 1: start 0, .*complete" "$WORK/sessions.log" || { cat "$WORK/sessions.log"; fail "session 1 not listed"; }
grep -q "^  fromxorriso (no manifest)" "$WORK/sessions.log" || { cat "$WORK/sessions.log"; fail "xorriso's folder not listed"; }
grep -q "^  $run\$" "$WORK/sessions.log" || { cat "$WORK/sessions.log"; fail "the run folder not listed"; }
expect_run "$WORK/ls.log" on_drive "$rec" "$BRENWICK_CLI" ls --session 1 /fromxorriso
grep -q "/fromxorriso/Docs/deep/er/Big.BIN" "$WORK/ls.log" || { cat "$WORK/ls.log"; fail "ls misses a file"; }
expect_run "$WORK/restore1.log" on_drive "$rec" "$BRENWICK_CLI" restore --session 1 /fromxorriso --to "$WORK/r1"
diff -r "$WORK/x1" "$WORK/r1/fromxorriso" || fail "xorriso's session restored differently"
expect_run "$WORK/restore2.log" on_drive "$rec" "$BRENWICK_CLI" restore "/$run" --to "$WORK/r2"
(cd "$WORK/r2/$run" && sha256sum -c --quiet --strict BRENWICK.SHA256) || fail "the restored run does not verify"
diff -r "$WORK/src2" "$WORK/r2/$run$WORK/src2" || fail "Brenwick's session restored differently"

step "a session without Joliet (xorriso, ISO 9660 names only) is listed and restored by its ISO names"
rec=$(new_recorder isoonly dvd+r)
mkdir -p "$WORK/iso/DATA" && printf 'plain names\n' >"$WORK/iso/DATA/NOTES.TXT"
head -c 70000 /dev/urandom >"$WORK/iso/DATA/BLOCKS.BIN"
expect_run "$WORK/iso.log" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -joliet off \
    -map "$WORK/iso" / -commit
expect_run "$WORK/isosessions.log" on_drive "$rec" "$BRENWICK_CLI" sessions
grep -q "^session 1: .*ISO 9660 names" "$WORK/isosessions.log" || { cat "$WORK/isosessions.log"; fail "not said"; }
expect_run "$WORK/isorestore.log" on_drive "$rec" "$BRENWICK_CLI" restore /DATA --to "$WORK/r3"
diff -r "$WORK/iso/DATA" "$WORK/r3/DATA" || fail "the ISO 9660 session restored differently"

echo "PASS"
