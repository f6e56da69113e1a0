#!/usr/bin/env bash
# xorriso (libburn) against the image recorder: it finds the drive, reads the media, burns a tree to
# blank DVD+R, DVD-R, DVD-RW, CD-R and CD-RW, appends a second session, closes the disc and is then
# refused; on DVD+RW, DVD-RAM and formatted DVD-RW it writes two sessions in place.
#   xorriso_test.sh [devices | MEDIUM]   one part only (CTest runs the parts side by side); none: all
source "$(dirname "$0")/lib.sh"
need xorriso isoinfo /usr/bin/python3
part=${1:-all}

list_devices() {
    step "xorriso -devices lists the recorder as a drive"
    local rec
    rec=$(new_recorder devices dvd+r)
    expect_run "$WORK/devices.log" on_drive "$rec" xorriso -devices
    grep -Eq "^0 +-dev '/dev/sr7' rwrw-- : +'BRENWICK' +'IMAGE RECORDER'" "$WORK/devices.log" ||
        { cat "$WORK/devices.log"; fail "xorriso -devices does not list /dev/sr7 as the recorder"; }
}

# burn_append_close MEDIUM "MEDIA NAME": two sessions, then a closing one; every session reads back.
burn_append_close() {
    local medium=$1 name=$2 dir="$WORK/$1"
    step "$name: -toc of the blank disc"
    local rec
    rec=$(new_recorder "$medium" "$medium")
    read_toc "$rec"
    toc_says "^Media current: $name\$"
    toc_says "^Media status : is blank"

    step "$name: burn a tree"
    make_tree "$dir/t1" one
    make_tree "$dir/t2/s2" two
    make_tree "$dir/t3/s3" three
    expect_run "$dir.burn1" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -joliet on \
        -map "$dir/t1" / -commit
    grep -q "Writing to '$DEV' completed successfully" "$dir.burn1" || { cat "$dir.burn1"; fail "no success"; }
    local image
    image=$(image_of "$rec")
    read_toc "$rec"
    [ "${#STARTS[@]}" -eq 1 ] && [ "${STARTS[0]}" -eq 0 ] || fail "one session at LBA 0 expected: ${STARTS[*]}"
    check_session "$image" 0 "$dir/t1"

    step "$name: append a second session"
    expect_run "$dir.burn2" on_drive "$rec" xorriso -abort_on FAILURE -dev "$DEV" -joliet on \
        -map "$dir/t2/s2" /s2 -commit
    read_toc "$rec"
    [ "${#STARTS[@]}" -eq 2 ] && [ "${STARTS[1]}" -gt 0 ] || fail "two sessions expected: ${STARTS[*]}"
    toc_says "^Media status : is written , is appendable"
    merge_trees "$dir/e2" "$dir/t1" "$dir/t2"
    check_session "$image" 0 "$dir/t1"
    check_session "$image" "${STARTS[1]}" "$dir/e2"

    step "$name: a closing third session"
    expect_run "$dir.burn3" on_drive "$rec" xorriso -abort_on FAILURE -dev "$DEV" -joliet on -close on \
        -map "$dir/t3/s3" /s3 -commit
    read_toc "$rec"
    [ "${#STARTS[@]}" -eq 3 ] || fail "three sessions expected: ${STARTS[*]}"
    toc_says "^Media status : is written , is closed"
    merge_trees "$dir/e3" "$dir/t1" "$dir/t2" "$dir/t3"
    check_session "$image" "${STARTS[2]}" "$dir/e3"

    step "$name: a closed disc refuses another session"
    local before after
    before=$(sha256sum <"$image")
    expect_refused "$dir.burn4" "Unsuitable target media state|not writeable|not appendable|can only be written with" \
        on_drive "$rec" xorriso \
        -abort_on FAILURE -dev "$DEV" -map "$dir/t1" /s4 -commit
    after=$(sha256sum <"$image")
    [ "$before" = "$after" ] || fail "the image changed after a refused burn"
}

# burn_overwritable MEDIUM "MEDIA NAME": on media written anywhere, xorriso keeps the newest descriptor
# set at LBA 16 and places each session after the last; LBA 0 and each session start read back.
burn_overwritable() {
    local medium=$1 name=$2 dir="$WORK/$1"
    step "$name: two sessions on an overwritable disc"
    local rec image
    rec=$(new_recorder "$medium" "$medium")
    make_tree "$dir/t1" one
    make_tree "$dir/t2/s2" two
    expect_run "$dir.burn1" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -joliet on \
        -map "$dir/t1" / -commit
    expect_run "$dir.burn2" on_drive "$rec" xorriso -abort_on FAILURE -dev "$DEV" -joliet on \
        -map "$dir/t2/s2" /s2 -commit
    image=$(image_of "$rec")
    read_toc "$rec"
    toc_says "^Media current: $name\$"
    [ "${#STARTS[@]}" -eq 2 ] || fail "two sessions expected: ${STARTS[*]}"
    merge_trees "$dir/e2" "$dir/t1" "$dir/t2"
    check_session "$image" "${STARTS[0]}" "$dir/t1"
    check_session "$image" "${STARTS[1]}" "$dir/e2"
    check_session "$image" 0 "$dir/e2"
}

declare -A media_names=([dvd+r]="DVD+R" [dvd-r]="DVD-R sequential recording" [cd-r-80]="CD-R"
    [cd-rw-80]="CD-RW" [dvd-rw]="DVD-RW sequential recording")
declare -A overwritable_names=([dvd+rw]="DVD+RW" [dvd-ram]="DVD-RAM" [dvd-rw-ro]="DVD-RW restricted overwrite")
case $part in
    all)
        list_devices
        for m in "${!media_names[@]}"; do burn_append_close "$m" "${media_names[$m]}"; done
        for m in "${!overwritable_names[@]}"; do burn_overwritable "$m" "${overwritable_names[$m]}"; done
        ;;
    devices) list_devices ;;
    *)
        if [ -n "${media_names[$part]:-}" ]; then
            burn_append_close "$part" "${media_names[$part]}"
        elif [ -n "${overwritable_names[$part]:-}" ]; then
            burn_overwritable "$part" "${overwritable_names[$part]}"
        else
            fail "no such part: $part"
        fi
        ;;
esac
echo "PASS"
