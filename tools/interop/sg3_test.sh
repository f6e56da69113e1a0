#!/usr/bin/env bash
# sg3-utils decoders accept the recorder's answers: standard INQUIRY, GET CONFIGURATION, the
# capabilities mode page and READ DISC INFORMATION, each decoded by a program that no one here wrote.
source "$(dirname "$0")/lib.sh"
need sg_inq sg_get_config sg_modes sg_raw sg_turs

rec=$(new_recorder sg cd-rw-80)

step "sg_inq"
expect_run "$WORK/inq.log" on_drive "$rec" sg_inq "$DEV"
grep -Eq "PQual=0 +PDT=5" "$WORK/inq.log" || { cat "$WORK/inq.log"; fail "not a CD/DVD device"; }
grep -q "Vendor identification: BRENWICK" "$WORK/inq.log" || { cat "$WORK/inq.log"; fail "vendor"; }
grep -q "Product identification: IMAGE RECORDER" "$WORK/inq.log" || { cat "$WORK/inq.log"; fail "product"; }
grep -q "RMB=1" "$WORK/inq.log" || { cat "$WORK/inq.log"; fail "a recorder has removable media"; }

step "sg_turs"
expect_run "$WORK/turs.log" on_drive "$rec" sg_turs "$DEV"

step "sg_get_config"
expect_run "$WORK/config1.log" on_drive "$rec" sg_get_config --rt=1 "$DEV"
grep -q "Current profile: CD-RW" "$WORK/config1.log" || { cat "$WORK/config1.log"; fail "current profile"; }
expect_run "$WORK/config.log" on_drive "$rec" sg_get_config "$DEV"
for feature in "Profile list" "Core" "Morphing" "Removable media" "Random readable" "CD read" \
    "Incremental streaming writable" "CD track-at-once" "CD mastering" "Real time streaming"; do
    grep -q "$feature" "$WORK/config.log" || { cat "$WORK/config.log"; fail "feature '$feature' missing"; }
done
grep -q "profile: CD-RW , currentP=1" "$WORK/config.log" || { cat "$WORK/config.log"; fail "profile list without CD-RW current"; }

step "sg_modes page 2Ah"
expect_run "$WORK/modes.log" on_drive "$rec" sg_modes --page=0x2a "$DEV"
grep -q "MM capabilities and mechanical status" "$WORK/modes.log" || { cat "$WORK/modes.log"; fail "page 2Ah"; }
expect_run "$WORK/modes-all.log" on_drive "$rec" sg_modes --all "$DEV"
grep -q "Write parameters" "$WORK/modes-all.log" || { cat "$WORK/modes-all.log"; fail "page 05h in 3Fh"; }

step "sg_raw READ DISC INFORMATION"
expect_run "$WORK/rdi.log" on_drive "$rec" sg_raw -r 34 -o "$WORK/rdi.bin" "$DEV" 51 00 00 00 00 00 00 00 22 00
[ "$(stat -c %s "$WORK/rdi.bin")" -eq 34 ] || fail "READ DISC INFORMATION did not return 34 bytes"
rdi=$(od -An -tx1 -v "$WORK/rdi.bin" | tr -d ' \n')
# Length 0020h, blank disc (status 0, last session empty), erasable, first track 1, one session.
[ "${rdi:0:4}" = "0020" ] || fail "disc information length: $rdi"
byte2=$((16#${rdi:4:2}))
[ $((byte2 & 0x03)) -eq 0 ] || fail "a blank disc has disc status 0: $rdi"
[ $((byte2 & 0x10)) -ne 0 ] || fail "a CD-RW is erasable: $rdi"

step "sg_raw of an unknown command is refused like a drive"
expect_refused "$WORK/bad.log" "Illegal Request|ILLEGAL REQUEST|[Ii]nvalid command operation" \
    on_drive "$rec" sg_raw "$DEV" d9 00 00 00 00 00 00 00 00 00
echo "PASS"
