#!/usr/bin/env bash
# The recorder refuses like a drive, and the programs see it: a closed disc, a burn larger than the free
# space, a write off the next writable address, a write past the capacity, a drive another program holds exclusively, a drive that
# is briefly busy or not ready (the kernel and the programs wait), and a drive that vanishes mid-burn.
source "$(dirname "$0")/lib.sh"
need xorriso wodim genisoimage sg_raw isoinfo /usr/bin/python3

dir="$WORK/r"
make_tree "$dir/t1" one

step "a closed CD-R refuses another burn"
rec=$(new_recorder closed cd-r-80)
genisoimage -quiet -R -J -o "$dir/first.iso" "$dir/t1"
expect_run "$dir.tao.log" on_drive "$rec" wodim dev="$DEV" gracetime=2 -tao -data "$dir/first.iso"
image=$(image_of "$rec")
before=$(sha256sum <"$image")
expect_refused "$dir.closed.log" "Unsuitable target media state|not writeable|not appendable" on_drive "$rec" \
    xorriso -abort_on FAILURE -dev "$DEV" -map "$dir/t1" /again -commit
[ "$(sha256sum <"$image")" = "$before" ] || fail "a refused burn changed the disc"
check_session "$image" 0 "$dir/t1"

step "a burn larger than the free space is refused before anything is written"
rec=$(new_recorder full cd-r-80)
mkdir -p "$dir/huge"
truncate -s 800M "$dir/huge/sparse.bin"
expect_refused "$dir.full.log" "exceeds free space|[Nn]ot enough|too large" on_drive "$rec" \
    xorriso -abort_on FAILURE -outdev "$DEV" -map "$dir/huge" / -commit
image=$(image_of "$rec")
[ ! -s "$image" ] || fail "a refused burn wrote to the disc"
toc_of "$rec" | grep -q "^Media status : is blank" || fail "the disc should still be blank"

step "a WRITE off the next writable address is refused with 05/21/02"
head -c 2048 /dev/zero >"$dir/sector"
expect_refused "$dir.nwa.log" "Illegal Request|ILLEGAL REQUEST" on_drive "$rec" \
    sg_raw -s 2048 -i "$dir/sector" "$DEV" 2a 00 00 00 10 00 00 00 01 00
grep -Eiq "invalid address for write|asc=0x21, ascq=0x2|21/02" "$dir.nwa.log" ||
    { cat "$dir.nwa.log"; fail "the refusal should say invalid address for write"; }

step "a WRITE past the capacity of a DVD+RW is refused with 05/21/00; the last block takes it"
rec=$(new_recorder capacity dvd+rw)
expect_refused "$dir.past.log" "Logical block address out of range" on_drive "$rec" \
    sg_raw -s 2048 -i "$dir/sector" "$DEV" 2a 00 00 23 05 40 00 00 01 00
expect_run "$dir.last.log" on_drive "$rec" sg_raw -s 2048 -i "$dir/sector" "$DEV" 2a 00 00 23 05 3f 00 00 01 00

step "a drive another program holds exclusively is busy"
rec=$(new_recorder held dvd+r)
fifo="$dir.fifo"
mkfifo "$fifo"
on_drive "$rec" sh -c '
    /usr/bin/python3 -c "
import os, sys
fd = os.open(\"/dev/sr7\", os.O_RDWR | os.O_EXCL | os.O_NONBLOCK)
print(\"held\", flush=True)
sys.stdin.read()
" <"$1" >"$2.holder" &
    holder=$!
    exec 3>"$1"
    while ! grep -q held "$2.holder" 2>/dev/null; do sleep 0.05; done
    xorriso -abort_on FAILURE -outdev /dev/sr7 -toc >"$2.second" 2>&1 && echo "second: ok" >>"$2.second"
    exec 3>&-
    wait $holder
    xorriso -abort_on FAILURE -outdev /dev/sr7 -toc >"$2.after" 2>&1 && echo "after: ok" >>"$2.after"
' sh "$fifo" "$dir.held" || fail "the exclusive-open check did not run"
grep -q "second: ok" "$dir.held.second" && { cat "$dir.held.second"; fail "a held drive was opened again"; }
grep -Eiq "busy" "$dir.held.second" || { cat "$dir.held.second"; fail "xorriso should report a busy drive"; }
grep -q "after: ok" "$dir.held.after" || { cat "$dir.held.after"; fail "the drive stays busy after release"; }

step "a briefly busy and not ready drive: the burn waits and lands whole"
rec=$(new_recorder busy dvd+r)
printf 'busy-writes 3\nnot-ready 2\n' >"$rec/faults"
expect_run "$dir.busy.log" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -joliet on \
    -map "$dir/t1" / -commit
check_session "$(image_of "$rec")" 0 "$dir/t1"

step "a drive that vanishes mid-burn fails the burn"
rec=$(new_recorder vanish dvd+r)
printf 'vanish-after-writes 5\n' >"$rec/faults"
expect_refused "$dir.vanish.log" "[Ff]ailed|FAILURE|[Ee]rror" on_drive "$rec" xorriso -abort_on FAILURE \
    -outdev "$DEV" -joliet on -map "$dir/t1" / -commit
grep -q "completed successfully" "$dir.vanish.log" && { cat "$dir.vanish.log"; fail "a vanished drive reported success"; }
echo "PASS"
