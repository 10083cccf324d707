#!/bin/sh
# Scenario: Device Write answered No. The program holds known maps, the unit
# other ones; Escape at the question "Do you realy want write data to CDI?"
# must send nothing (no block request reaches the unit, its memory image is
# unchanged byte for byte), open no box after the question, and leave the
# log panel cleared, where before it held the two start-up lines.
#
# Usage: write_answered_no.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$@"

sample_cdi plain >"$autosave"
"$simtool" demo "$unit" >/dev/null
cp "$unit/memory.bin" "$artefacts/before.bin"
set_unit present=1 rpm=2000 memory=memory.bin request_log=requests.log

start_program 1
printf 'Started successfully.\nWaiting device connect.\n' >"$artefacts/expected-log.txt"
expect_log "$artefacts/expected-log.txt" "the two start-up lines"
shot 1-log-before
note "log panel holds the start-up lines"

show_tab map
click_device_write
write_anyway 2-write-anyway
box=$(wait_for_box question 2-write-question)
answer_box "$box" Escape
note "Device Write answered No"
expect_no_box_for 1500 "after the question was answered No"

[ "$(count_requests 82)" = 0 ] || fail "$(count_requests 82) block writes reached the unit"
[ "$(count_requests 80)" = 0 ] || fail "$(count_requests 80) block reads reached the unit"
expect_same_file "$unit/memory.bin" "$artefacts/before.bin" "the unit's memory changed"
note "no block request sent, the unit's memory unchanged"

# The cleared panel is all its own black inside its frame.
show_tab device
shot 3-log-after
colours=$(colours_in "$artefacts/3-log-after.png" 529 249 469 281)
[ "$colours" = "#000000" ] ||
    fail "the log panel is not empty after the write: $(echo "$colours" | wc -l) colours in it; see 3-log-after.png"
: >"$artefacts/expected-empty-log.txt"
expect_log "$artefacts/expected-empty-log.txt" "empty"
note "log panel cleared"

close_with_escape
echo "PASS write_answered_no in $(elapsed_s); artefacts in $artefacts"
