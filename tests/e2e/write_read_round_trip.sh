#!/bin/sh
# Scenario: write the maps to the unit and read them back, through the whole
# program. It starts with an autosave holding known maps and options while
# the unit holds other ones; Device Write answered Yes must leave the unit's
# memory exactly as the encoded maps and options over the unit's own
# configuration bytes, and keep what the unit held before as a restore
# point; Device Read must bring the title "KVZ-CDI v1.2.0 - device loaded",
# and the autosave written on close must hold the maps as decoded from the
# unit.
#
# Usage: write_read_round_trip.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$@"

# The program starts with known maps; the unit holds the demo maps.
sample_cdi plain >"$artefacts/start.cdi"
cp "$artefacts/start.cdi" "$autosave"
"$simtool" demo "$unit" >/dev/null
cp "$unit/memory.bin" "$artefacts/before.bin"
set_unit present=1 rpm=3000 memory=memory.bin request_log=requests.log
"$simtool" encode "$artefacts/start.cdi" "$artefacts/expected.bin" "$artefacts/before.bin"
cmp -s "$artefacts/before.bin" "$artefacts/expected.bin" &&
    fail "the unit holds the expected maps before the write: nothing to tell"

start_program 1
shot 1-device-tab
show_tab map
shot 2-map-tab-before

# Device Write, past the points the unit will run differently, Yes, then
# close the result box.
click_device_write
write_anyway 3-write-anyway
box=$(wait_for_box question 3-write-question)
answer_box "$box" Return
box=$(wait_for_box message 4-write-result)
answer_box "$box" Return
note "Device Write answered Yes; result box closed"

expect_same_file "$unit/memory.bin" "$artefacts/expected.bin" \
    "the unit's memory after Device Write is not the encoded maps and options (kvz-sim-unit dump shows both)"
# A few bytes worked out by hand, so that the check does not rest on the
# codec alone: 10.0 degrees at point 30 is 0x2DD8 and 25.5 at point 100 is
# 0x0482 (pickup 36, latency 570); valve 3.7, 37.0 and 159.1 go as their
# integer parts; the configuration block is the file's options over the
# unit's own bytes (0 and 1 are A5 5A, 63 is 3C in the demo unit) with the
# 2-pulse engine constant 18750.
mem=$unit/memory.bin
expect_bytes "$mem" 60 "d8 2d" "ignition map 0, point 30"
expect_bytes "$mem" 200 "82 04" "ignition map 0, point 100"
expect_bytes "$mem" 641 "03" "valve map 0, point 1"
expect_bytes "$mem" 650 "25" "valve map 0, point 10"
expect_bytes "$mem" 683 "9f" "valve map 0, point 43"
expect_bytes "$mem" 960 "a5 5a 41 02 0f 78 01 01 82 00 3e 49 02 24 00 00" "configuration bytes 0..15"
expect_bytes "$mem" 1023 "3c" "configuration byte 63"
[ "$(count_requests 82)" = 32 ] || fail "$(count_requests 82) block writes, not 32"
[ "$(count_requests 80)" = 96 ] || fail "$(count_requests 80) block reads before (twice) and after, not 96"
note "the unit holds exactly the encoded maps and options"
before_write=$(ls "$backups"/*-before-write.bin)
expect_same_file "$before_write" "$artefacts/before.bin" "the restore point is not what the unit held before the write"
note "the restore point $(basename "$before_write") holds what the unit held"

# Device Read, then close the result box.
click_device_read
box=$(wait_for_box message 5-read-result)
answer_box "$box" Return
wait_for_title "KVZ-CDI v1.2.0 - device loaded"
expect_no_box_for 1000 "a warning after Device Read of a unit with the same pulse type and a pickup"
note "Device Read: title \"$(title)\""
[ "$(count_requests 80)" = 160 ] || fail "$(count_requests 80) block reads in all, not 160"
[ "$(count_requests 82)" = 32 ] || fail "Device Read wrote to the unit"
expect_same_file "$unit/memory.bin" "$artefacts/expected.bin" "Device Read changed the unit's memory"
shot 6-map-tab-after-read

# The log panel: cleared by Device Write, then the read before it and its
# restore point, the write, its read-back and restore point, and the read
# and its restore point, each phase with its dots.
show_tab device
shot 7-device-tab-log
read_log='Reading CONFIG table\n..OK.\nReading IG table\n....................OK.\nReading PV table..........OK.\n'
kept() { printf 'Restore point: %s\n' "$(ls "$backups"/*-"$1".bin)"; }
{
    printf "$read_log"
    kept before-write
    printf "Writing IG table\n....................OK\n..........OK\n..OK\n$read_log"
    kept after-write
    printf "$read_log"
    kept read
} >"$artefacts/expected-log.txt"
expect_log_end "$artefacts/expected-log.txt" 15 "a read, a write, its read-back and a read, with their restore points"

close_with_escape
"$simtool" decode "$unit/memory.bin" "$artefacts/expected-autosave.cdi"
expect_same_file "$autosave" "$artefacts/expected-autosave.cdi" \
    "the autosave written on close is not the maps and options decoded from the unit"
# 10.0 at point 30 comes back as 10.1, 25.5 at point 100 as 25.5; the
# unit keeps 37 of the valve's 37.0 and 3 of its 3.7.
sed -n '31p;101p;322p;331p;645p' "$autosave" >"$artefacts/autosave-lines.txt"
printf 'IG:0\t030\t10.100000\nIG:0\t100\t25.500000\nPV:0\t001\t3.000000\nPV:0\t010\t37.000000\nrev_limit\t130\n' |
    cmp -s - "$artefacts/autosave-lines.txt" ||
    fail "the autosave's lines 31, 101, 322, 331 and 645 read: $(cat "$artefacts/autosave-lines.txt")"
note "the autosave holds the decoded maps"

echo "PASS write_read_round_trip in $(elapsed_s); artefacts in $artefacts"
