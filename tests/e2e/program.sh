#!/bin/sh
# Runs the whole program on the X display it is given (run-under-xvfb.sh sets
# one up) and looks at it from outside, as a user would: the window comes up
# titled "KVZ-CDI v1.2.0", 1028 x 600, on the Device tab; Escape ends it with
# status 0; the toolkit's own options (-geometry, and an unknown one) are
# taken by the toolkit. Screenshots stay in the artefact folder.
#
# Usage: program.sh PROGRAM ARTEFACT_DIR
# Every wait is a poll against a deadline; nothing sleeps for long.
set -eu

program=$1
artefacts=$2
mkdir -p "$artefacts"
# A scratch temporary folder: the program's autosave lands here, never in
# the user's real one.
scratch=$(mktemp -d "$artefacts/tmp.XXXXXX")
pid=
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Starts the program with the given arguments; its output goes to run-N.log.
start() {
    log="$artefacts/run-$1.log"
    shift
    TMPDIR=$scratch "$program" "$@" >"$log" 2>&1 &
    pid=$!
}

# Prints the id of the program's visible main window once it is mapped.
wait_for_window() {
    deadline=$(($(now_ms) + 60000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
        id=$(xdotool search --onlyvisible --name '^KVZ-CDI v1\.2\.0$' 2>/dev/null | head -n 1) || true
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    fail "no window titled \"KVZ-CDI v1.2.0\" within 60 s"
}

# The colour of one pixel of a picture, as #RRGGBB.
pixel() {
    convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/.*\(#[0-9A-Fa-f]\{6\}\).*/\1/p' | head -n 1
}

# Waits until the window is drawn: the log panel of the Device tab is black
# (colour 0) and the R.P.M. field light grey-blue (colour 23, #DCDCE8).
# Neither colour is at these places on the other tabs.
wait_for_device_tab() {
    shot="$artefacts/window.png"
    deadline=$(($(now_ms) + 60000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        if import -window "$1" "$shot" 2>/dev/null &&
            [ "$(pixel "$shot" 760 500)" = "#000000" ] &&
            [ "$(pixel "$shot" 300 455)" = "#DCDCE8" ]; then
            return 0
        fi
        sleep 0.1
    done
    fail "the Device tab was not drawn within 60 s (log panel $(pixel "$shot" 760 500), R.P.M. field $(pixel "$shot" 300 455))"
}

geometry_of() {
    xwininfo -id "$1" | sed -n "s/^ *$2: *\(-\{0,1\}[0-9]*\).*/\1/p"
}

# Escape in the main window runs its close callback, which ends the process.
# Only the key press is sent: the window is gone before a release could be.
escape_and_expect_status_0() {
    xdotool keydown --window "$1" Escape 2>/dev/null || true
    deadline=$(($(now_ms) + 10000))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "still running 10 s after Escape"
        sleep 0.05
    done
    status=0
    wait "$pid" || status=$?
    pid=
    [ "$status" -eq 0 ] || fail "exit status $status after Escape, not 0"
}

# 1. A plain start.
start 1
id=$(wait_for_window)
[ "$(geometry_of "$id" Width)" = 1028 ] || fail "width $(geometry_of "$id" Width), not 1028"
[ "$(geometry_of "$id" Height)" = 600 ] || fail "height $(geometry_of "$id" Height), not 600"
xprop -id "$id" WM_NAME | grep -qx 'WM_NAME(STRING) = "KVZ-CDI v1.2.0"' ||
    fail "WM_NAME is $(xprop -id "$id" WM_NAME)"
wait_for_device_tab "$id"
cp "$artefacts/window.png" "$artefacts/kvz-cdi-device-tab.png"
import -window root "$artefacts/screen-device-tab.png"
escape_and_expect_status_0 "$id"
echo "plain start: titled, 1028 x 600, Device tab, Escape gives status 0"

# 2. The toolkit's geometry option places the window.
start 2 -geometry +100+120
id=$(wait_for_window)
x=$(geometry_of "$id" "Absolute upper-left X")
y=$(geometry_of "$id" "Absolute upper-left Y")
[ "$x,$y" = "100,120" ] || fail "-geometry +100+120 put the window at $x,$y"
[ "$(geometry_of "$id" Width)" = 1028 ] || fail "width changed by -geometry"
wait_for_device_tab "$id"
escape_and_expect_status_0 "$id"
echo "-geometry +100+120: window at 100,120"

# 3. An option the toolkit does not know: it prints its usage, start-up goes on.
start 3 -no-such-option
id=$(wait_for_window)
wait_for_device_tab "$id"
escape_and_expect_status_0 "$id"
grep -q "options are" "$artefacts/run-3.log" || fail "no usage message for an unknown option"
echo "unknown option: usage printed, program ran and ended with status 0"

echo "screenshots in $artefacts"
