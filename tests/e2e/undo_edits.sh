#!/bin/sh
# Scenario: undo from the keyboard. Eight quick presses of UP's key (l) on
# the Map tab raise ignition map 0 at the cursor, and the autosave written
# on close holds them. Started again from the same file, the same presses
# followed by Ctrl+Z must leave an autosave equal to that file, byte for
# byte: the eight steps were one change, and undo put back every bit; and
# so must that file named on the command line over other maps, and Ctrl+Z.
#
# Usage: undo_edits.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$@"

sample_cdi plain >"$artefacts/start.cdi"
set_unit present=0

# edit_and_close RUN [KEY...]: the presses, then the keys, then Escape.
edit_and_close() {
    cp "$artefacts/start.cdi" "$autosave"
    start_program "$1"
    show_tab map
    xdotool key --window "$main" --repeat 8 --delay 50 l 2>/dev/null
    shift
    for k in "$@"; do key "$k"; done
    shot "$run-edited"
    close_with_escape
}

edit_and_close 1
cmp -s "$autosave" "$artefacts/start.cdi" && fail "eight UP presses left the autosave as it was"
cp "$autosave" "$artefacts/raised.cdi"
note "eight UP presses reached the autosave"

edit_and_close 2 ctrl+z
expect_same_file "$autosave" "$artefacts/start.cdi" "after Ctrl+Z the autosave is not the file the program started from"
note "Ctrl+Z undid all eight"

# A file named on the command line is where undo starts.
cp "$artefacts/raised.cdi" "$autosave"
start_program 3 "$artefacts/start.cdi"
wait_for_title "KVZ-CDI v1.2.0 - $artefacts/start.cdi"
key ctrl+z
close_with_escape
expect_same_file "$autosave" "$artefacts/start.cdi" "kvz-cdi FILE then Ctrl+Z did not leave the file's maps"

echo "PASS undo_edits in $(elapsed_s); artefacts in $artefacts"
