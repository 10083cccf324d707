#!/bin/sh
# Scenario: the maps and options survive restarts through the autosave file.
# The program starts with an autosave holding values beyond the tables'
# clamps (ignition 40 and -3.5, valve 200 and -5), pulse type 1 with pickup
# 68, rev limit 125 and a stop-switch byte of 5; closed with Escape it must
# write back what it loaded, clamped (35, 0, 160, 0; stop switch 1), and a
# second start and close, or a third naming a damaged map file, must leave
# that file unchanged byte for byte. Each time the file is moved away while
# the program runs, so what is found after the close is what the close wrote.
# A fourth start, idle, writes nothing; killed with SIGKILL 3 s after an UP
# press, it leaves the press to a fifth start.
#
# Usage: autosave_survival.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$@"

sample_cdi wild >"$artefacts/start.cdi"
sample_cdi wild clamped >"$artefacts/expected.cdi"
cmp -s "$artefacts/start.cdi" "$artefacts/expected.cdi" &&
    fail "the start file is within the clamps: nothing to tell"
cp "$artefacts/start.cdi" "$autosave"
# No unit plugged in: the poll finds nothing, and no real hidapi is asked.
set_unit present=0

# Closes the running program with Escape and checks the autosave it wrote.
close_and_expect() {
    mv "$autosave" "$artefacts/$1"
    close_with_escape
    [ -f "$autosave" ] || fail "no autosave written on close"
    expect_same_file "$autosave" "$2" "$3"
}

start_program 1
show_tab options
shot 1-options-loaded
show_tab map
shot 1-map-loaded
close_and_expect loaded-1.cdi "$artefacts/expected.cdi" \
    "the autosave written on close is not what was loaded, clamped"
note "first close: the autosave holds the loaded maps and options, clamped"
cp "$autosave" "$artefacts/saved-1.cdi"

start_program 2
show_tab options
shot 2-options-loaded
close_and_expect loaded-2.cdi "$artefacts/saved-1.cdi" \
    "the autosave changed over a start and a close"
note "second close: the autosave is unchanged byte for byte"

# A damaged file named: its box (under the pointer, clear of the window).
sed '200s/\t[^\t]*$/\tabc/' "$artefacts/start.cdi" >"$artefacts/damaged.cdi"
xdotool mousemove 1279 1023 2>/dev/null
start_program 3 "$artefacts/damaged.cdi"
answer_box "$(wait_for_box message 3-refusal)" Return
title_is "KVZ-CDI v1.2.0" || fail "the title is \"$(title)\" after a damaged file"
close_and_expect loaded-3.cdi "$artefacts/saved-1.cdi" "a damaged file named on the command line changed the autosave"

stamp_is() { [ "$(stat -c '%i %y' "$autosave")" = "$1" ]; }
start_program 4
holds_for 3000 stamp_is "$(stat -c '%i %y' "$autosave")" || fail "the autosave was written while nothing changed"
show_tab map
key l
sleep 3
kill -9 "$pid"
wait "$pid" || true
grep -q "$(printf '^IG:0\t080\t21.000000$')" "$autosave" || fail "the UP press 3 s before SIGKILL is not in the autosave"
start_program 5
close_and_expect killed.cdi "$artefacts/killed.cdi" "the start after the kill did not load the edit"

echo "PASS autosave_survival in $(elapsed_s); artefacts in $artefacts"
