#!/bin/sh
# Scenario: the Device tab's read-out fields follow the unit, twice a second.
# Started with the unit unplugged, all eight fields are empty. Plugged in at
# 1500 rpm on map 1 with the quick shifter on, the fields read exactly
# "1500", "MAP1" on cyan, "QSSW ON" on cyan, the valve angle, "00" and "00"
# and the unit's names; at 9000 rpm on map 0 with the shifter off, "9000",
# "MAP0" on magenta and "QSSW OFF" on magenta. Pulled out, the fields empty
# again and the two switch fields keep their magenta.
#
# Texts are read exactly: a triple click selects a field's line, which the
# toolkit offers as the X primary selection. Colours are read from pixels:
# FL_CYAN (223) is #00FFFF and FL_MAGENTA (248) #FF00FF in the toolkit's
# default colour map; the fields' own colour (23) is #DCDCE8.
#
# Usage: status_fields.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
set -eu
. "$(dirname "$0")/lib.sh"
setup_scenario "$@"

field_colour=#DCDCE8
cyan=#00FFFF
magenta=#FF00FF

# All eight fields empty, the two switch fields on the given colour.
fields_blank() {
    for name in Manufacture Product R.P.M. "Power valve angle" "PIC DevID" RevID; do
        field_blank_in "$1" "$name" "$field_colour" || return 1
    done
    field_blank_in "$1" "Map sw" "$2" && field_blank_in "$1" "Quick shifter sw" "$2"
}

# Takes the shot NAME and tells whether all eight fields are empty in it.
blank_in_shot() {
    shot "$1"
    fields_blank "$artefacts/$1.png" "$2"
}

wait_for_blank_fields() {
    poll_until 10000 blank_in_shot "$1" "$2" ||
        fail "the fields did not all become empty (switch fields on $2); see $1.png"
}

expect_switch_colours() {
    shot "$1"
    for name in "Map sw" "Quick shifter sw"; do
        got=$(field_colour_in "$artefacts/$1.png" "$name")
        [ "$got" = "$2" ] || fail "\"$name\" is on $got, not $2; see $1.png"
    done
    got=$(field_colour_in "$artefacts/$1.png" R.P.M.)
    [ "$got" = "$field_colour" ] || fail "\"R.P.M.\" is on $got, not its own $field_colour"
}

set_unit present=0
start_program 1
# Empty from the start and through at least two polls.
holds_for 1500 blank_in_shot 1-unplugged "$field_colour" ||
    fail "a field shows something with no unit plugged in; see 1-unplugged.png"
note "unplugged: all eight fields empty"

set_unit present=1 rpm=1500 map_switch=1 shifter_switch=0 valve_angle=42
expect_field R.P.M. 1500
note "plugged in: R.P.M. reads 1500"
expect_field "Map sw" MAP1
expect_field "Quick shifter sw" "QSSW ON"
expect_field "Power valve angle" 42
expect_field "PIC DevID" 00
expect_field RevID 00
expect_field Manufacture "KVZ Electronics"
expect_field Product KVZ-CDI
expect_switch_colours 2-plugged-1500 "$cyan"
note "MAP1 and QSSW ON on cyan, valve 42, PIC DevID and RevID 00, names shown"

set_unit present=1 rpm=9000 map_switch=0 shifter_switch=1 valve_angle=255
expect_field R.P.M. 9000
expect_field "Map sw" MAP0
expect_field "Quick shifter sw" "QSSW OFF"
expect_field "Power valve angle" 255
expect_switch_colours 3-running-9000 "$magenta"
note "9000 rpm: MAP0 and QSSW OFF on magenta, valve 255"

# Focus to the pickup field, so that no read-out field draws its caret.
click 945 184
set_unit present=0
wait_for_blank_fields 4-pulled-out "$magenta"
note "pulled out: all eight fields empty, the switch fields still magenta"

close_with_escape
echo "PASS status_fields in $(elapsed_s); artefacts in $artefacts"
