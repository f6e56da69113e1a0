#!/usr/bin/env bash
# wodim against the image recorder: drive and disc inquiries, TAO and SAO data burns to a CD-R, SAO to a
# DVD-R, and -multi with a second session made by genisoimage from -msinfo (reading the first session
# through the device).
source "$(dirname "$0")/lib.sh"
need wodim genisoimage xorriso isoinfo /usr/bin/python3

dir="$WORK/w"
make_tree "$dir/t1" one
make_tree "$dir/t2/s2" two
genisoimage -quiet -R -J -V FIRST -o "$dir/first.iso" "$dir/t1"
size=$(stat -c %s "$dir/first.iso")

step "wodim -checkdrive, -prcap, -atip"
rec=$(new_recorder inquiry cd-r-80)
expect_run "$dir.check.log" on_drive "$rec" wodim dev="$DEV" -checkdrive
grep -q "Vendor_info    : 'BRENWICK'" "$dir.check.log" || { cat "$dir.check.log"; fail "no vendor"; }
grep -q "Identification : 'IMAGE RECORDER  '" "$dir.check.log" || { cat "$dir.check.log"; fail "no product"; }
grep -q "Using generic SCSI-3/mmc" "$dir.check.log" || { cat "$dir.check.log"; fail "not an MMC driver"; }
grep -Eq "Supported modes:.*TAO.*SAO" "$dir.check.log" || { cat "$dir.check.log"; fail "TAO and SAO"; }
expect_run "$dir.prcap.log" on_drive "$rec" wodim dev="$DEV" -prcap
grep -q "Does write CD-R media" "$dir.prcap.log" || { cat "$dir.prcap.log"; fail "-prcap: no CD-R writing"; }
grep -q "Does write CD-RW media" "$dir.prcap.log" || { cat "$dir.prcap.log"; fail "-prcap: no CD-RW writing"; }
expect_run "$dir.atip.log" on_drive "$rec" wodim dev="$DEV" -atip
grep -q "ATIP info from disk" "$dir.atip.log" || { cat "$dir.atip.log"; fail "-atip: no ATIP"; }
grep -q "Is not erasable" "$dir.atip.log" || { cat "$dir.atip.log"; fail "-atip: a CD-R is not erasable"; }

for mode in tao sao; do
    step "wodim -$mode data burn to a CD-R"
    rec=$(new_recorder "$mode" cd-r-80)
    expect_run "$dir.$mode.log" on_drive "$rec" wodim -v dev="$DEV" gracetime=2 "-$mode" -data "$dir/first.iso"
    image=$(image_of "$rec")
    cmp -n "$size" "$dir/first.iso" "$image" || fail "-$mode: the disc does not hold the image byte for byte"
    check_session "$image" 0 "$dir/t1"
    read_toc "$rec"
    toc_says "^Media status : is written , is closed"
done

step "wodim -sao to a DVD-R: one reserved track, then the disc is closed"
rec=$(new_recorder dvdr dvd-r)
expect_run "$dir.dvd.log" on_drive "$rec" wodim -v dev="$DEV" gracetime=2 -sao "$dir/first.iso"
image=$(image_of "$rec")
cmp -n "$size" "$dir/first.iso" "$image" || fail "DVD-R: the disc does not hold the image byte for byte"
check_session "$image" 0 "$dir/t1"
read_toc "$rec"
toc_says "^Media status : is written , is closed"

step "wodim -multi, then a second session from -msinfo"
rec=$(new_recorder multi cd-r-80)
expect_run "$dir.multi1.log" on_drive "$rec" wodim -v dev="$DEV" gracetime=2 -multi -tao -data "$dir/first.iso"
msinfo=$(on_drive "$rec" wodim dev="$DEV" -msinfo 2>/dev/null)
[[ "$msinfo" =~ ^0,[1-9][0-9]*$ ]] || fail "-msinfo after one session: '$msinfo'"
expect_run "$dir.gen2.log" on_drive "$rec" genisoimage -quiet -R -J -V SECOND -C "$msinfo" -M "$DEV" \
    -o "$dir/second.iso" "$dir/t2"
expect_run "$dir.multi2.log" on_drive "$rec" wodim -v dev="$DEV" gracetime=2 -multi -tao -data "$dir/second.iso"
image=$(image_of "$rec")
read_toc "$rec"
[ "${#STARTS[@]}" -eq 2 ] && [ "${STARTS[1]}" -eq "${msinfo#0,}" ] ||
    fail "the second session should start at ${msinfo#0,}: ${STARTS[*]}"
toc_says "^Media status : is written , is appendable"
merge_trees "$dir/e2" "$dir/t1" "$dir/t2"
check_session "$image" 0 "$dir/t1"
check_session "$image" "${STARTS[1]}" "$dir/e2"
echo "PASS"
