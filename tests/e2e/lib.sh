# Shared by the scenario scripts: runs kvz-cdi against the simulated unit on
# the X display it is given and works it from outside as a user would, with
# keys and clicks (xdotool), reading what it shows from screenshots and the
# X primary selection (xclip). Every wait polls against a deadline.
#
# A scenario script begins
#   set -eu
#   . "$(dirname "$0")/lib.sh"
#   setup_scenario PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR
# (an empty PRELOAD_LIBRARY runs the program on the system's hidapi). Its
# scratch folders are kept among the artefacts: tmp/ (TMPDIR, so the
# autosave is tmp/autosaved.cdi), unit/ (control file unit.conf, memory
# image memory.bin, requests.log), data/ (XDG_DATA_HOME: the restore points
# are in $backups), state/ (XDG_STATE_HOME) and run/ (XDG_RUNTIME_DIR,
# which the unit's lock, its node unit/unit.node, does not depend on).

pid=
main=
started_ms=

now_ms() { echo $(($(date +%s%N) / 1000000)); }

fail() {
    echo "FAIL: $*" >&2
    shot_on_failure
    exit 1
}

note() { echo "[$(($(now_ms) - started_ms)) ms] $*"; }

# Runs a command every 0.1 s until it succeeds; false when MS milliseconds
# pass first. poll_until MS COMMAND [ARGUMENTS...]
poll_until() {
    # The deadline goes into $1: positional parameters are the only thing a
    # poll inside the command cannot overwrite.
    poll_ms=$1
    shift
    set -- "$(($(now_ms) + poll_ms))" "$@"
    until after_first "$@"; do
        [ "$(now_ms)" -lt "$1" ] || return 1
        sleep 0.1
    done
}

# True when a command, run every 0.1 s, succeeds each time for MS
# milliseconds. holds_for MS COMMAND [ARGUMENTS...]
holds_for() {
    poll_ms=$1
    shift
    set -- "$(($(now_ms) + poll_ms))" "$@"
    while [ "$(now_ms)" -lt "$1" ]; do
        after_first "$@" || return 1
        sleep 0.1
    done
}

# Runs the command that follows its first argument.
after_first() {
    shift
    "$@"
}

shot_on_failure() {
    [ -n "${artefacts:-}" ] && [ -d "$artefacts" ] || return 0
    import -window root "$artefacts/failure-screen.png" 2>/dev/null || true
}

cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
    fi
}

setup_scenario() {
    program=$1
    preload=$2
    simtool=$3
    artefacts=$4
    started_ms=$(now_ms)
    rm -rf "$artefacts"
    mkdir -p "$artefacts/tmp" "$artefacts/unit" "$artefacts/run"
    chmod 700 "$artefacts/run"
    tmp=$artefacts/tmp
    unit=$artefacts/unit
    autosave=$tmp/autosaved.cdi
    # Restore points and the state folder among the artefacts, never the
    # user's own.
    export XDG_DATA_HOME="$artefacts/data" XDG_STATE_HOME="$artefacts/state" XDG_RUNTIME_DIR="$artefacts/run"
    backups=$XDG_DATA_HOME/kvz-cdi/backups
    trap cleanup EXIT
}

# ---------------------------------------------------------------- the unit

# Replaces the control file in one step with the given key=value lines; the
# program's next poll picks it up.
set_unit() {
    printf '%s\n' "$@" >"$unit/unit.conf.new"
    mv "$unit/unit.conf.new" "$unit/unit.conf"
}

# The block requests (read 80, write 82) the unit has received so far.
count_requests() {
    if [ -f "$unit/requests.log" ]; then
        awk -v cmd="$1" '$2 == cmd { n++ } END { print n + 0 }' "$unit/requests.log"
    else
        echo 0
    fi
}

# A .cdi file with known maps and options, printed on standard output.
#   sample_cdi plain        values within the clamps, pulse type 2
#   sample_cdi wild         ignition 40 and -3.5, valve 200 and -5 here and
#                           there, pulse type 1, QS-STP 5
#   sample_cdi wild clamped what the program keeps of "wild": values clamped
#                           to 0..35 and 0..160, QS-STP 1
# Map 0 of the ignition holds 10.0 at point 30 and 25.5 at point 100, whose
# timer words and read-back values are known (0x2DD8 reading back as 10.1,
# 0x0482 as 25.5, with pickup 36 and latency 570).
sample_cdi() {
    awk -v kind="$1" -v clamped="${2:-}" '
    function keep(v, lo, hi) {
        if (clamped == "") return v
        if (v > hi) v = hi
        if (v < lo) v = lo
        return v
    }
    BEGIN {
        for (map = 0; map < 2; map++)
            for (i = 0; i < 160; i++) {
                v = ((i * (7 + 6 * map)) % 351) / 10
                if (map == 0 && i == 30) v = 10
                if (map == 0 && i == 100) v = 25.5
                if (kind == "wild" && i % 40 == 7) v = 40
                if (kind == "wild" && i % 40 == 9) v = -3.5
                printf "IG:%d\t%03d\t%f\n", map, i, keep(v, 0, 35)
            }
        for (map = 0; map < 2; map++)
            for (i = 0; i < 160; i++) {
                v = ((i * (37 + 4 * map)) % 1601) / 10
                if (kind == "wild" && i % 40 == 11) v = 200
                if (kind == "wild" && i % 40 == 13) v = -5
                printf "PV:%d\t%03d\t%f\n", map, i, keep(v, 0, 160)
            }
        if (kind == "wild") {
            split("070 003 020 150 125 001 068", o, " ")
            stp = clamped == "" ? "005" : "001"
            rev = "000"
        } else {
            split("065 002 015 120 130 002 036", o, " ")
            stp = "001"
            rev = "001"
        }
        printf "QS-RPM\t%s\nQS_ONT\t%s\nQS-CUT\t%s\nQS-DIS\t%s\nrev_limit\t%s\n", o[1], o[2], o[3], o[4], o[5]
        printf "PulseType\t%s\nPickupDeg\t%s\nQS-STP\t%s\nQS-REV\t%s\n", o[6], o[7], stp, rev
    }'
}

# The bytes of a file from an offset, as plain hex: bytes_at FILE OFFSET COUNT
bytes_at() {
    od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -s ' \n' ' ' | sed 's/^ //;s/ $//'
}

expect_bytes() {
    got=$(bytes_at "$1" "$2" $(($(echo "$3" | wc -w))))
    [ "$got" = "$3" ] || fail "$4: bytes at $2 of $(basename "$1") are \"$got\", not \"$3\""
}

expect_same_file() {
    cmp "$1" "$2" >/dev/null 2>&1 || {
        cmp "$1" "$2" >&2 || true
        diff "$1" "$2" 2>/dev/null | head -n 6 >&2 || true
        fail "$3"
    }
}

# ---------------------------------------------------------------- the program

# Starts kvz-cdi with the simulated unit of this scenario preloaded in place
# of hidapi (none when preload is empty); its output goes to run-N.log.
# start_program N [PROGRAM_ARGUMENTS...]
start_program() {
    run=$1
    shift
    TMPDIR=$tmp KVZ_SIM_UNIT=$unit/unit.conf \
        LD_PRELOAD="$preload${LD_PRELOAD:+:$LD_PRELOAD}" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
        "$program" "$@" >"$artefacts/run-$run.log" 2>&1 &
    pid=$!
    poll_until 60000 main_window_shown || fail "no window titled \"KVZ-CDI v1.2.0\" within 60 s"
    # The first drawing loads the fonts: slow on a loaded machine.
    wait_for_tab device 60
    note "run $run: window $main shown on the Device tab"
}

main_window_shown() {
    kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
    main=$(xdotool search --onlyvisible --name '^KVZ-CDI v1\.2\.0( - .*)?$' 2>/dev/null | head -n 1) || true
    [ -n "$main" ]
}

# Saves a picture of the main window as NAME.png among the artefacts.
shot() {
    import -window "$main" "$artefacts/$1.png" 2>/dev/null || fail "no screenshot of the window"
}

# The colour of one pixel of a picture, as #RRGGBB.
pixel() {
    convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/.*\(#[0-9A-Fa-f]\{6\}\).*/\1/p' | head -n 1
}

# The colours inside a rectangle of a picture, one #RRGGBB per line.
colours_in() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -depth 8 -unique-colors txt:- |
        sed -n 's/.*\(#[0-9A-Fa-f]\{6\}\).*/\1/p'
}

# Polls until the named tab is drawn, each told by colours only it has at
# those places: the Device tab's black log panel (colour 0) and grey-blue
# R.P.M. field (colour 23); the Map tab's magenta Device Write button
# (colour 5); the Options tab's white rev-limit slider (colour 55); the
# Table tab's white cells at 500 and 2000 rpm.
# wait_for_tab NAME [SECONDS]
wait_for_tab() {
    case $1 in
    device) checks="760 500 #000000 300 455 #DCDCE8" ;;
    map) checks="30 250 #FF00FF 140 280 #FF00FF" ;;
    options) checks="60 130 #FFFFFF 900 100 #FFFFFF" ;;
    table) checks="140 92 #FFFFFF 140 140 #FFFFFF" ;;
    esac
    seconds=${2:-15}
    poll_until $((seconds * 1000)) tab_drawn $checks || fail "the $1 tab was not drawn within $seconds s"
}

# True when a shot of the window has each colour at its place: X Y COLOUR...
tab_drawn() {
    import -window "$main" "$artefacts/poll.png" 2>/dev/null || return 1
    while [ $# -ge 3 ]; do
        [ "$(pixel "$artefacts/poll.png" "$1" "$2")" = "$3" ] || return 1
        shift 3
    done
}

# Alt plus a tab's letter selects it whatever widget has the focus.
show_tab() {
    case $1 in
    device) key alt+d ;;
    map) key alt+m ;;
    options) key alt+o ;;
    table) key alt+t ;;
    esac
    wait_for_tab "$1"
}

key() { xdotool key --window "$main" "$1" 2>/dev/null; }

# Clicks at window coordinates.
click() { xdotool mousemove --window "$main" "$1" "$2" click 1 2>/dev/null; }

# The Map tab's command buttons, clicked at their centres.
click_file_save() { click 85 145; }
click_device_read() { click 85 205; }
click_device_write() { click 85 265; }

title() {
    xprop -id "$main" WM_NAME | sed -n 's/^WM_NAME([A-Z_0-9]*) = "\(.*\)"$/\1/p'
}

title_is() { [ "$(title)" = "$1" ]; }

wait_for_title() {
    poll_until 10000 title_is "$1" || fail "the title is \"$(title)\", not \"$1\""
}

# Escape in the main window ends the program through its close callback.
# Only the press is sent: the window is gone before a release could be.
close_with_escape() {
    xdotool keydown --window "$main" Escape 2>/dev/null || true
    expect_exit 0 Escape
    note "closed with Escape, exit status 0"
}

# Waits for the program to end, and checks its exit status:
# expect_exit STATUS WHAT_ENDED_IT
expect_exit() {
    poll_until 10000 program_ended || fail "still running 10 s after $2"
    status=0
    wait "$pid" || status=$?
    pid=
    [ "$status" -eq "$1" ] || fail "exit status $status after $2, not $1"
}

program_ended() { ! kill -0 "$pid" 2>/dev/null; }

# ---------------------------------------------------------------- boxes

# Any other visible window of the program is one of its modal boxes.
box_window() {
    xdotool search --onlyvisible --class FLTK 2>/dev/null | grep -vx "$main" | head -n 1 || true
}

# The kind of box a picture of one shows, told by its icon: the question's
# "?" has its arc at 40,27, the message box's "i" its dot at 33,22 (blue,
# the icon's colour).
box_kind() {
    arc=$(pixel "$1" 40 27)
    dot=$(pixel "$1" 33 22)
    if [ "$arc" = "#0000FF" ] && [ "$dot" != "#0000FF" ]; then
        echo question
    elif [ "$dot" = "#0000FF" ] && [ "$arc" != "#0000FF" ]; then
        echo message
    else
        echo unknown
    fi
}

# Waits for a box of the given kind (question or message) to be shown and
# drawn, keeps its picture as NAME.png and prints its window id.
wait_for_box() {
    kind=none
    poll_until 15000 box_shown "$1" "$2" || fail "no $1 box within 15 s (last seen: $kind)"
    echo "$box"
}

box_shown() {
    box=$(box_window)
    [ -n "$box" ] && import -window "$box" "$artefacts/$2.png" 2>/dev/null || return 1
    kind=$(box_kind "$artefacts/$2.png")
    [ "$kind" = "$1" ]
}

# Device Write of maps the unit will not run as they stand: the box that
# lists the points comes first, and Return (Write anyway) goes on to the
# question.
write_anyway() {
    anyway=$(wait_for_box question "$1")
    answer_box "$anyway" Return
}

# Answers a box with a key (Return or Escape) and waits until it is gone.
answer_box() {
    xdotool keydown --window "$1" "$2" 2>/dev/null || true
    poll_until 10000 box_gone "$1" || fail "the box is still open 10 s after $2"
}

box_gone() { [ "$(box_window)" != "$1" ]; }
no_box() { [ -z "$(box_window)" ]; }

# Checks that no box opens for a while (the poll's period is 0.5 s).
expect_no_box_for() {
    holds_for "$1" no_box || fail "a box opened: $2"
}

# ---------------------------------------------------------------- text fields

# Puts a marker into the primary selection, so that a selection the program
# did not make is never read as its text.
mark_selection() {
    # xclip forks and serves the selection until another owner takes it.
    printf '%s' '<nothing selected>' | xclip -selection primary -i >/dev/null 2>&1
    poll_until 5000 selection_is '<nothing selected>' || fail "could not take the primary selection"
}

selection_is() { [ "$(xclip -selection primary -o 2>/dev/null)" = "$1" ]; }

# The text of an output field: a triple click selects its line, which the
# toolkit hands out as the primary selection. Empty when nothing was
# selected (an empty field selects nothing).
field_text() {
    mark_selection
    # From elsewhere first: the toolkit counts clicks at one spot as one run,
    # so a try right after the last would not start a triple click.
    xdotool mousemove --window "$main" 1 599 2>/dev/null
    xdotool mousemove --window "$main" "$1" "$2" click --repeat 3 --delay 60 1 2>/dev/null
    text=$(xclip -selection primary -o 2>/dev/null) || text=
    [ "$text" = '<nothing selected>' ] && text=
    printf '%s' "$text"
}

# Polls a field until it reads the text: wait_field_text NAME X Y TEXT
wait_field_text() {
    poll_until 10000 field_reads "$2" "$3" "$4" || fail "\"$1\" reads \"$got\", not \"$4\""
}

field_reads() {
    got=$(field_text "$1" "$2")
    [ "$got" = "$3" ]
}

# The whole text of the log panel (Device tab shown): dragged over from its
# first line to its bottom right corner, then read as the primary selection,
# which the toolkit sets when a drag ends. The panel is clicked first: a
# drag that starts by giving it the focus selects nothing. The toolkit
# handles a motion only once it has no other event waiting, so the button
# is let go a moment after the last motion; expect_log reads again when
# that was not enough.
log_text() {
    mark_selection
    click 990 525
    xdotool mousemove --window "$main" 528 248 mousedown 1 mousemove --window "$main" 760 400 \
        mousemove --window "$main" 998 530 sleep 0.2 mouseup 1 2>/dev/null
    text=$(xclip -selection primary -o 2>/dev/null; echo x) || text=x
    text=${text%x}
    [ "$text" = '<nothing selected>' ] && text=
    printf '%s' "$text"
}

# Polls the log panel until it reads as the file: expect_log FILE WHAT
expect_log() {
    poll_until 10000 log_reads "$1" || {
        diff "$1.got" "$1" | head -n 8 >&2 || true
        fail "the log panel does not read as $2 (read: $1.got)"
    }
}

log_reads() {
    log_text >"$1.got"
    cmp -s "$1.got" "$1"
}

# The same for a log longer than the panel shows: what can be read of it
# (the end, since the panel follows its last line) must be the file's last
# lines, at least `lines` of them: expect_log_end FILE LINES WHAT
expect_log_end() {
    poll_until 10000 log_ends_as "$1" "$2" || {
        diff "$1.got" "$1" | head -n 8 >&2 || true
        fail "the log panel does not end as $3 (read: $1.got)"
    }
}

log_ends_as() {
    log_text >"$1.got"
    got=$(wc -l <"$1.got")
    [ "$got" -ge "$2" ] && tail -n "$got" "$1" | cmp -s - "$1.got"
}

# Output fields of the Device tab by label: the point to click, then the
# rectangle inside the down box's 2-pixel frame (x y w h).
field_geometry() {
    case $1 in
    Manufacture) echo "300 125 52 112 434 26" ;;
    Product) echo "300 186 52 173 434 26" ;;
    "Map sw") echo "200 332 52 319 316 26" ;;
    "Quick shifter sw") echo "200 393 52 380 316 26" ;;
    R.P.M.) echo "200 454 52 441 316 26" ;;
    "Power valve angle") echo "200 515 52 502 316 26" ;;
    "PIC DevID") echo "178 246 122 232 112 29" ;;
    RevID) echo "391 246 335 232 112 29" ;;
    *) fail "no field $1" ;;
    esac
}

expect_field() {
    name=$1
    want=$2
    set -- $(field_geometry "$name")
    wait_field_text "$name" "$1" "$2" "$want"
}

# True when a field shows nothing but its background colour in a picture.
field_blank_in() {
    set -- "$1" "$3" $(field_geometry "$2")
    [ "$(colours_in "$1" "$5" "$6" "$7" "$8")" = "$2" ]
}

# The background colour of a field, taken at its right end, where no text
# of the poll's reaches.
field_colour_in() {
    set -- "$1" $(field_geometry "$2")
    pixel "$1" $(($4 + $6 - 4)) $(($5 + $7 / 2))
}

elapsed_s() {
    ms=$(($(now_ms) - started_ms))
    printf '%d.%03d s' $((ms / 1000)) $((ms % 1000))
}
