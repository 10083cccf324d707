#!/bin/sh
# Takes the pictures of a tuning session for the documentation, with the
# same harness as the scenario tests: kvz-cdi on an Xvfb of its own against
# a demo unit (kvz-sim-unit demo), worked with keys and clicks. It reads the
# unit, raises ignition map 0 around 6000 rpm, saves the maps to a file and
# writes them to the unit, and keeps, cropped to the window:
#   docs/device-tab.png     the Device tab, the unit connected and read
#   docs/map-tab.png        the Map tab after the read and the edit
#   docs/options-tab.png    the Options tab with the unit's options
#   docs/table-tab.png      the Table tab compared with the read's restore
#                           point, a block of IGN MAP1 and PVS MAP0 selected
#   docs/table-log.png      the Table tab holding a ride log, the replay
#                           slider moved to a pull on map 1
#   docs/write-question.png the question before writing, over the Map tab
#
# Usage, from the top of the source tree, after a build:
#   scripts/take-screenshots.sh [BUILD_DIR]   (default: build)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${KVZ_SCREENSHOTS_ON_XVFB:-}" ]; then
    KVZ_SCREENSHOTS_ON_XVFB=1 exec "$top/tests/run-under-xvfb.sh" "$0" "$@"
fi
build=$(cd "${1:-build}" && pwd)
docs=$top/docs
. "$top/tests/e2e/lib.sh"
setup_scenario "$build/app/kvz-cdi" "$build/sim/libkvz-sim-hidapi.so" "$build/sim/kvz-sim-unit" \
    "$(mktemp -d "${TMPDIR:-/tmp}/kvz-screenshots.XXXXXX")"
mkdir -p "$docs"

# The window's own rectangle of the whole screen, boxes over it included.
window_shot() {
    x=$(xwininfo -id "$main" | sed -n 's/^ *Absolute upper-left X: *//p')
    y=$(xwininfo -id "$main" | sed -n 's/^ *Absolute upper-left Y: *//p')
    import -window root -crop "1028x600+$x+$y" +repage "$docs/$1.png"
    echo "docs/$1.png"
}

"$simtool" demo "$unit" >/dev/null
cp "$unit/memory.bin" "$artefacts/demo.bin"
# Held at 7200 rpm on map 1, so that the pictures come out the same each time.
set_unit present=1 rpm=7200 map_switch=1 valve_angle=map shifter_switch=1 memory=memory.bin
# A program used before, set for the demo unit's engine type; without an
# autosave the read would warn that the engine type does not match.
sample_cdi plain >"$autosave"
# The file chooser keeps its recently used files under the home folder.
export HOME="$artefacts/home"
mkdir -p "$HOME"
start_program 1
expect_field Manufacture "KVZ Electronics"

# Read the unit.
show_tab map
click_device_read
box=$(wait_for_box message read-result)
answer_box "$box" Return
wait_for_title "KVZ-CDI v1.2.0 - device loaded"

# The unit as it shows on the Device tab: names, live state, the read's log.
show_tab device
window_shot device-tab

# Raise ignition map 0 by 2.5 degrees at 6000 rpm: the cursor starts at
# 8000, each "," moves it 500 rpm down, each "l" adds 0.1 degree.
show_tab map
key 1
xdotool key --window "$main" --repeat 4 --delay 30 comma 2>/dev/null
xdotool key --window "$main" --repeat 25 --delay 30 l 2>/dev/null
wait_for_tab map
window_shot map-tab

show_tab options
window_shot options-tab

# Save the maps through the file chooser: its file name field takes the
# focus, so the name is typed and Return pressed.
show_tab map
click_file_save
chooser_shown() {
    chooser=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
    [ -n "$chooser" ]
}
# A window still blank has one colour.
chooser_drawn() {
    import -window "$chooser" "$artefacts/chooser.png" 2>/dev/null &&
        [ "$(convert "$artefacts/chooser.png" -unique-colors -format '%w' info:)" -gt 16 ]
}
poll_until 15000 chooser_shown "Save CDI data" || fail "no file chooser titled \"Save CDI data\""
# Typed once the chooser is drawn.
poll_until 15000 chooser_drawn || fail "the file chooser was not drawn within 15 s"
xdotool type --window "$chooser" "$artefacts/tune.cdi" 2>/dev/null
xdotool key --window "$chooser" Return 2>/dev/null
wait_for_title "KVZ-CDI v1.2.0 - $artefacts/tune.cdi"
[ -f "$artefacts/tune.cdi" ] || fail "no tune.cdi saved"

# Compare with the restore point the read kept, through the chooser, which
# starts in its folder. The cell edited at 6000 rpm shows tinted once the
# selection has left it; then a block of IGN MAP1 and PVS MAP0 is selected.
show_tab table
key Right
key alt+w
poll_until 15000 chooser_shown "Compare with CDI data" || fail "no file chooser to compare with"
poll_until 15000 chooser_drawn || fail "the file chooser was not drawn within 15 s"
xdotool type --window "$chooser" "$(ls "$backups"/*-read.cdi | head -n 1)" 2>/dev/null
xdotool key --window "$chooser" Return 2>/dev/null
poll_until 15000 tab_drawn 140 268 "#FFE8A0" || fail "the edited cell is not shown as differing"
xdotool key --window "$main" --delay 30 Down Down Down Down shift+Down shift+Down shift+Down shift+Down \
    shift+Right 2>/dev/null
window_shot table-tab

# A ride log: ten minutes at ten samples a second, pulls from 3000 rpm up to
# 11500 every half minute, the second five minutes on map 1. The comparison
# goes first, since its tint wins over the log's. The log lies in the logs
# folder, where the chooser starts.
logs=$XDG_DATA_HOME/kvz-cdi/logs
mkdir -p "$logs"
chmod 700 "$logs"
awk 'BEGIN {
    print "# kvz-cdi-cli 1.2.0, unit KVZ Electronics KVZ-CDI"
    print "time,rpm,valve_angle,map_switch,qs_switch"
    for (i = 0; i < 6000; i++) {
        rpm = int(3000 + 8500 * ((i % 300) / 300) ^ 1.5)
        printf "2024-05-01T09:%02d:%02d.%03dZ,%d,%d,%d,0\n", 30 + int(i / 600), int(i / 10) % 60, (i % 10) * 100,
            rpm, (rpm > 9000 ? 120 : int(rpm / 75)), (i >= 3000)
    }
}' >"$logs/ride.csv"
click 595 442
key alt+l
poll_until 15000 chooser_shown "Load a ride log" || fail "no file chooser to load a ride log"
poll_until 15000 chooser_drawn || fail "the file chooser was not drawn within 15 s"
# The log is the one file of the folder the chooser starts in: a typed name
# would race the chooser's completion of it, so the first row of the list
# is double-clicked once it shows.
first_file_listed() {
    import -window "$chooser" "$artefacts/chooser.png" 2>/dev/null &&
        [ "$(colours_in "$artefacts/chooser.png" 180 126 200 16 | wc -l)" -gt 4 ]
}
poll_until 15000 first_file_listed || fail "the chooser lists no ride log"
xdotool mousemove --window "$chooser" 260 134 click --repeat 2 --delay 80 1 2>/dev/null
log_tinted() {
    import -window "$main" "$artefacts/poll.png" 2>/dev/null &&
        colours_in "$artefacts/poll.png" 100 85 180 495 | grep -qx "#FFC878"
}
poll_until 15000 log_tinted || fail "the ride log's busiest cell is not tinted"
click 965 572
window_shot table-log
show_tab map

# Write it to the unit.
click_device_write
box=$(wait_for_box question write-question)
window_shot write-question
answer_box "$box" Return
box=$(wait_for_box message write-result)
answer_box "$box" Return
cmp -s "$unit/memory.bin" "$artefacts/demo.bin" && fail "the unit's memory did not change"

close_with_escape
rm -rf "$artefacts"
