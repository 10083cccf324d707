#!/bin/sh
# Scenario: the maps survive the ends of a run that do not come through the
# window. SIGTERM to the running program writes the autosave and ends it
# with status 0. Under a file-size limit too small for the autosave
# (prlimit --fsize) the save fails cleanly: the program is not killed, the
# old autosave stays as it was, no stray file is left beside it and one line
# on standard error says so. A display that goes away saves the autosave
# too, and ends the program with status 1.
#
# Usage: session_end.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$@"
kvz=$program
export XDG_STATE_HOME="$artefacts/state"

sample_cdi plain >"$artefacts/start.cdi"
cp "$artefacts/start.cdi" "$autosave"
set_unit present=0

# Each run's autosave is moved away while it runs, so what is found after it
# ended is what it wrote.
start_program 1
mv "$autosave" "$artefacts/loaded-1.cdi"
kill -TERM "$pid"
expect_exit 0 SIGTERM
expect_same_file "$autosave" "$artefacts/start.cdi" "the autosave written on SIGTERM is not what was loaded"
note "SIGTERM: the autosave written, exit status 0"

# prlimit sets the limit and runs the program in its own place; the
# simulated unit is not needed, and is kept out of prlimit itself.
program=prlimit
preload=
start_program 2 --fsize=4096 "$kvz"
program=$kvz
kill -TERM "$pid"
expect_exit 0 "SIGTERM under a file-size limit"
expect_same_file "$autosave" "$artefacts/start.cdi" "the old autosave was changed"
[ "$(ls -A "$tmp")" = autosaved.cdi ] || fail "files left in the temporary folder: $(ls -A "$tmp" | tr '\n' ' ')"
[ ! -e "$XDG_STATE_HOME" ] || fail "the autosave went to the state folder"
grep -q "could not be saved to the autosave file" "$artefacts/run-2.log" ||
    fail "no line on standard error says that the save failed"
note "file-size limit: the old autosave kept, nothing left beside it, the failure told"

# A display of its own, to take away. -noreset, as in run-under-xvfb.sh: a
# helper's connection that comes and goes first would otherwise reset the
# server just as the program connects.
mkfifo "$artefacts/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$artefacts/display" 2>/dev/null &
xvfb=$!
read -r display <"$artefacts/display"
export DISPLAY=":$display"
start_program 3
mv "$autosave" "$artefacts/loaded-3.cdi"
kill "$xvfb"
wait "$xvfb" || true
expect_exit 1 "the display went away"
expect_same_file "$autosave" "$artefacts/start.cdi" "the autosave written when the display went away is not what was loaded"
note "lost display: the autosave written, exit status 1"

echo "PASS session_end in $(elapsed_s); artefacts in $artefacts"
