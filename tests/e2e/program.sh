#!/bin/sh
# Runs the whole program, with the system's hidapi and no unit, and looks at
# it from outside as a user would: the window comes up titled
# "KVZ-CDI v1.2.0", 1028 x 600, on the Device tab; Escape ends it with
# status 0; the toolkit takes its own options (-geometry). Screenshots stay
# among the artefacts.
#
# Usage: program.sh PROGRAM ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$1" "" "" "$2"

geometry_of() {
    xwininfo -id "$main" | sed -n "s/^ *$1: *\(-\{0,1\}[0-9]*\).*/\1/p"
}

# 1. A plain start.
start_program 1
[ "$(geometry_of Width)" = 1028 ] || fail "width $(geometry_of Width), not 1028"
[ "$(geometry_of Height)" = 600 ] || fail "height $(geometry_of Height), not 600"
xprop -id "$main" WM_NAME | grep -qx 'WM_NAME(STRING) = "KVZ-CDI v1.2.0"' ||
    fail "WM_NAME is $(xprop -id "$main" WM_NAME)"
shot kvz-cdi-device-tab
import -window root "$artefacts/screen-device-tab.png"
close_with_escape

# 2. The toolkit's geometry option places the window. (The toolkit keeps a
# window at least 20 pixels from the top, for a title bar.)
start_program 2 -geometry +100+120
x=$(geometry_of "Absolute upper-left X")
y=$(geometry_of "Absolute upper-left Y")
[ "$x,$y" = "100,120" ] || fail "-geometry +100+120 put the window at $x,$y"
[ "$(geometry_of Width)" = 1028 ] || fail "width changed by -geometry"
close_with_escape
