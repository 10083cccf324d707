#!/bin/sh
# Scenario: a map file named on the command line, as a file manager opens
# one, over an autosave that holds other maps. kvz-cdi tune.cdi starts
# titled with the file and holding its maps and options: Ctrl+Z right away
# changes nothing, since the file is where undo starts, and the autosave
# written on close is the file byte for byte. kvz-cdi damaged.cdi starts
# with the autosave's maps, shows its box once the window is up, names the
# file in the log, keeps the plain title, and the close writes the
# autosave back unchanged. The pointer waits in the screen's far corner, so
# the box, which opens under it, covers nothing of the window.
#
# Usage: open_file.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$@"

sample_cdi plain >"$artefacts/tune.cdi"
sample_cdi wild clamped >"$artefacts/autosave.cdi"
# Line 200 is an ignition value that does not convert.
sed '200s/\t[^\t]*$/\tabc/' "$artefacts/tune.cdi" >"$artefacts/damaged.cdi"
cmp -s "$artefacts/tune.cdi" "$artefacts/damaged.cdi" && fail "the damaged file is not damaged"
set_unit present=0
xdotool mousemove 1279 1023 2>/dev/null

# Closes the running program with Escape and checks the autosave it wrote:
# close_and_expect FILE WHAT
close_and_expect() {
    mv "$autosave" "$artefacts/before-close-$run.cdi"
    close_with_escape
    [ -f "$autosave" ] || fail "no autosave written on close"
    expect_same_file "$autosave" "$1" "$2"
}

cp "$artefacts/autosave.cdi" "$autosave"
start_program 1 "$artefacts/tune.cdi"
wait_for_title "KVZ-CDI v1.2.0 - $artefacts/tune.cdi"
key ctrl+z
show_tab map
shot 1-map-of-the-file
close_and_expect "$artefacts/tune.cdi" "the autosave on close is not the file the program was started with"
note "kvz-cdi tune.cdi: titled with the file, Ctrl+Z changed nothing, the close wrote the file's maps"

cp "$artefacts/autosave.cdi" "$autosave"
launch_program 2 "$artefacts/damaged.cdi"
box=$(wait_for_box message 2-refusal)
answer_box "$box" Return
wait_for_tab device
printf '%s\n' "Started successfully." "Waiting device connect." \
    "Could not open $artefacts/damaged.cdi; nothing of it was loaded." >"$artefacts/2-log.expected"
expect_log "$artefacts/2-log.expected" "the start-up lines and the refusal"
title_is "KVZ-CDI v1.2.0" || fail "the title is \"$(title)\" after a refused file"
close_and_expect "$artefacts/autosave.cdi" "the autosave changed after a refused file"
note "kvz-cdi damaged.cdi: the box, the log line, the plain title, the autosave's maps kept"

echo "PASS open_file in $(elapsed_s); artefacts in $artefacts"
