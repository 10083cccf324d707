#!/bin/sh
# Runs the Windows program under Wine on the X display it is given (start it
# through tests/run-under-xvfb.sh) and looks at it from outside: a window
# titled "KVZ-CDI v1.2.0" comes up, Escape ends the program with status 0,
# and the autosave it leaves in the Windows temporary folder holds the whole
# map file, 649 lines, each ending in CR LF. Wine uses the WINEPREFIX it is
# given, already set up (wineboot); no autosave may be there yet.
#
# Usage: check-program.sh KVZ_CDI_EXE ARTEFACT_DIR
set -eu
exe=$1
artefacts=$2
. "$(dirname "$0")/../../tests/e2e/lib.sh"
setup_scenario "$exe" "" "" "$artefacts"

# Wine's desktop process takes the X display of the Wine start that began
# it; one begun without this display must end before the program starts.
timeout 60 wineserver -w

windows_temp=$(timeout 120 wine cmd /c echo %TEMP% | tr -d '\r')
autosave=$(timeout 60 winepath -u "$windows_temp")/autosaved.cdi
[ ! -e "$autosave" ] || fail "$autosave is there before the program ran"

wine "$exe" >"$artefacts/run.log" 2>&1 &
pid=$!
poll_until 120000 main_window_shown || fail "no window titled \"KVZ-CDI v1.2.0\" under Wine within 120 s"
note "window $main titled \"KVZ-CDI v1.2.0\""
shot kvz-cdi-windows
close_with_escape

[ -f "$autosave" ] || fail "no autosave at $autosave"
cp "$autosave" "$artefacts/autosaved.cdi"
lines=$(awk 'END { print NR }' "$autosave")
crlf_lines=$(awk '/\r$/ { n++ } END { print n + 0 }' "$autosave")
[ "$lines" -eq 649 ] || fail "the autosave has $lines lines, not 649"
[ "$crlf_lines" -eq 649 ] || fail "$crlf_lines of the autosave's 649 lines end in CR LF"
[ "$(tail -c 1 "$autosave" | od -An -tx1 | tr -d ' ')" = 0a ] || fail "the autosave's last line has no line end"
note "autosave $autosave: 649 lines, each ending in CR LF"

# Wine's own processes leave this display before it goes.
timeout 60 wineserver -w
