#!/usr/bin/env bash
# Erasing and formatting by real programs: wodim blank=fast on a CD-RW, xorriso -blank on a DVD-RW,
# dvd+rw-format and xorriso -format turning a DVD-RW to restricted overwrite. Each disc is blank afterwards, holds nothing of
# its old contents, and takes a new burn that reads back.
source "$(dirname "$0")/lib.sh"
need wodim xorriso genisoimage dvd+rw-format isoinfo /usr/bin/python3

dir="$WORK/b"
make_tree "$dir/t1" one
make_tree "$dir/t2" two
genisoimage -quiet -R -J -o "$dir/first.iso" "$dir/t1"

# reburn FOLDER TREE: a blank disc takes a new session that holds exactly TREE (on overwritable media
# xorriso puts it at LBA 32 and a copy of its descriptors at LBA 16).
reburn() {
    read_toc "$1"
    toc_says "^Media status : is blank"
    local image
    image=$(image_of "$1")
    [ ! -s "$image" ] || fail "the erased disc still holds data"
    expect_run "$WORK/reburn.log" on_drive "$1" xorriso -abort_on FAILURE -outdev "$DEV" -joliet on \
        -map "$2" / -commit
    read_toc "$1"
    [ "${#STARTS[@]}" -eq 1 ] || fail "one session expected: ${STARTS[*]}"
    check_session "$image" "${STARTS[0]}" "$2"
    [ "${STARTS[0]}" -eq 0 ] || check_session "$image" 0 "$2"
}

step "wodim blank=fast erases a written CD-RW"
rec=$(new_recorder cdrw cd-rw-80)
expect_run "$dir.cd1.log" on_drive "$rec" wodim dev="$DEV" gracetime=2 -multi -tao -data "$dir/first.iso"
expect_run "$dir.cdblank.log" on_drive "$rec" wodim dev="$DEV" gracetime=2 blank=fast
reburn "$rec" "$dir/t2"

step "xorriso -blank as_needed erases a written DVD-RW"
rec=$(new_recorder dvdrw dvd-rw)
expect_run "$dir.dvd1.log" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -joliet on -map "$dir/t1" / \
    -commit
expect_run "$dir.dvdblank.log" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -blank as_needed
reburn "$rec" "$dir/t2"

step "dvd+rw-format turns a blank DVD-RW to restricted overwrite"
rec=$(new_recorder format dvd-rw)
expect_run "$dir.format.log" on_drive "$rec" dvd+rw-format -force "$DEV"
read_toc "$rec"
toc_says "^Media current: DVD-RW restricted overwrite"
reburn "$rec" "$dir/t1"

step "xorriso -format as_needed turns a blank DVD-RW to restricted overwrite"
rec=$(new_recorder xformat dvd-rw)
expect_run "$dir.xformat.log" on_drive "$rec" xorriso -abort_on FAILURE -outdev "$DEV" -format as_needed
read_toc "$rec"
toc_says "^Media current: DVD-RW restricted overwrite"
reburn "$rec" "$dir/t2"
echo "PASS"
