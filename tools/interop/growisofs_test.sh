#!/usr/bin/env bash
# growisofs against the image recorder: -Z writes an ISO image to a blank DVD, -M appends a second tree
# (genisoimage reads the first session through the device itself); both sessions read back. On DVD+RW
# -M grows the one session in place: its descriptors at LBA 16 then describe both trees.
source "$(dirname "$0")/lib.sh"
need growisofs genisoimage xorriso isoinfo /usr/bin/python3

for medium in dvd+r dvd-r dvd+rw; do
    dir="$WORK/$medium"
    step "$medium: growisofs -Z of an ISO image"
    rec=$(new_recorder "$medium" "$medium")
    make_tree "$dir/t1" one
    make_tree "$dir/t2/s2" two
    genisoimage -quiet -R -J -V FIRST -o "$dir/first.iso" "$dir/t1"
    expect_run "$dir.z.log" on_drive "$rec" growisofs -Z "$DEV=$dir/first.iso"
    image=$(image_of "$rec")
    cmp -n "$(stat -c %s "$dir/first.iso")" "$dir/first.iso" "$image" ||
        fail "the disc does not hold the image byte for byte"
    check_session "$image" 0 "$dir/t1"

    step "$medium: growisofs -M with a second tree"
    expect_run "$dir.m.log" on_drive "$rec" growisofs -M "$DEV" -R -J -V SECOND "$dir/t2"
    read_toc "$rec"
    merge_trees "$dir/e2" "$dir/t1" "$dir/t2"
    if [ "$medium" = dvd+rw ]; then
        [ "${#STARTS[@]}" -eq 1 ] && [ "${STARTS[0]}" -eq 0 ] || fail "one grown session expected: ${STARTS[*]}"
        check_session "$image" 0 "$dir/e2"
    else
        [ "${#STARTS[@]}" -eq 2 ] && [ "${STARTS[0]}" -eq 0 ] && [ "${STARTS[1]}" -gt 0 ] ||
            fail "two sessions expected: ${STARTS[*]}"
        check_session "$image" 0 "$dir/t1"
        check_session "$image" "${STARTS[1]}" "$dir/e2"
    fi
done
echo "PASS"
