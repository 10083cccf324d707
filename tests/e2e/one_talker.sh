#!/bin/sh
# Scenario: one talker for the unit across programs. The window polls idle
# against a unit whose status replies come 300 ms late (block replies 30
# ms), so every poll gives up on its reply and leaves it owed. Eight dumps
# of kvz-cdi-cli in a row, then more beside a "status --watch" started
# without XDG_RUNTIME_DIR, must each exit 0 with the unit's image byte for
# byte, and no sample may show another request's reply. A node that cannot
# be opened gets nothing sent and says why. SIGINT in the middle of
# "write --yes" leaves the whole new image on the unit, both lines printed,
# and the program ended by SIGINT. Under a file-size limit, write and read
# fail with status 5 and one line, leaving no stray file.
# Beside status replies 1.6 s late, dumps and a write see only the unit's bytes.
#
# Usage: one_talker.sh PROGRAM PRELOAD_LIBRARY SIM_TOOL ARTEFACT_DIR CLI
set -eu
. "$(dirname "$0")/lib.sh"
cli=$5
setup_scenario "$1" "$2" "$3" "$4"

late="rpm=4321 map_switch=1 valve_angle=77 shifter_switch=0 reply_delay_ms=30 status_reply_delay_ms=300"
"$simtool" demo "$unit" >/dev/null
# shellcheck disable=SC2086
set_unit $late memory=memory.bin request_log=requests.log

# kvz-cdi-cli on this scenario's unit, through the command in $wrap if
# any; its output goes to NAME.out and NAME.err. A command started in the
# background has SIGINT ignored unless $wrap gives it back.
wrap=
# start_cli puts it in the background, its process id in $cli_pid;
# run_cli waits for it and gives its status.
start_cli() {
    name=$1
    shift
    # shellcheck disable=SC2086
    (TMPDIR=$tmp KVZ_SIM_UNIT=$unit/unit.conf LD_PRELOAD="$preload${LD_PRELOAD:+:$LD_PRELOAD}" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
        exec $wrap "$cli" "$@" >"$artefacts/$name.out" 2>"$artefacts/$name.err") &
    cli_pid=$!
}
run_cli() {
    start_cli "$@"
    wait "$cli_pid"
}

exact_dump() {
    status=0
    run_cli "dump-$1" dump "$artefacts/dump-$1.bin" || status=$?
    [ "$status" -eq 0 ] || fail "dump $1 exited $status: $(cat "$artefacts/dump-$1.err")"
    expect_same_file "$artefacts/dump-$1.bin" "$unit/memory.bin" "dump $1 is not the unit's image"
}

start_program 1
# Each after a tick of the window's, which gives up on its status reply.
for n in 1 2 3 4 5 6 7 8; do
    sleep 0.6
    exact_dump "$n"
done
note "eight dumps beside the polling window: all exact"

wrap="env -u XDG_RUNTIME_DIR --default-signal=INT"
start_cli watch status --watch --interval 0.1
watcher=$cli_pid
wrap=
for n in 9 10 11; do
    sleep 0.6
    XDG_RUNTIME_DIR=$artefacts/elsewhere exact_dump "$n"
done
# The window leaves the unit alone for half a second in every two.
sleep 4
kill -INT "$watcher"
status=0
wait "$watcher" || status=$?
[ "$status" -eq 0 ] || fail "status --watch ended with $status after Ctrl+C"
samples=$(awk -F, 'NR > 2 && $2 != ""' "$artefacts/watch.out" | wc -l)
foreign=$(awk -F, 'NR > 2 && $2 != "" && $2","$3","$4","$5 != "4321,77,1,1"' "$artefacts/watch.out" | wc -l)
[ "$samples" -gt 0 ] || fail "no sample of status --watch had a reply; see watch.out"
[ "$foreign" -eq 0 ] || fail "$foreign samples of status --watch show another request's reply; see watch.out"
note "status --watch beside three more dumps: $samples samples, all its own"

sent=$(wc -l <"$unit/requests.log")
# shellcheck disable=SC2086
set_unit $late node=missing memory=memory.bin request_log=requests.log
status=0
run_cli missing dump "$artefacts/missing.bin" || status=$?
[ "$status" -eq 4 ] || fail "a dump with no node exited $status"
[ "$(cat "$artefacts/missing.err")" = "kvz-cdi-cli: cannot open the unit at $unit/unit.node: No such file or directory" ] ||
    fail "a dump with no node said: $(cat "$artefacts/missing.err")"
sleep 1
[ "$(wc -l <"$unit/requests.log")" -eq "$sent" ] || fail "requests went to a unit whose node cannot be opened"
note "no node: nothing sent, and the reason said"

# shellcheck disable=SC2086
set_unit $late memory=memory.bin request_log=requests.log
sample_cdi plain >"$artefacts/tune.cdi"
cp "$unit/memory.bin" "$artefacts/before-write.bin"
"$simtool" encode "$artefacts/tune.cdi" "$artefacts/expected.bin" "$artefacts/before-write.bin"
writes=$(count_requests 82)
wrap="env --default-signal=INT"
start_cli write write --yes "$artefacts/tune.cdi"
writer=$cli_pid
wrap=
poll_until 20000 eval '[ "$(count_requests 82)" -gt $((writes + 10)) ]' || fail "the write did not start"
kill -INT "$writer"
status=0
wait "$writer" || status=$?
[ "$status" -eq 130 ] || fail "the interrupted write ended with $status, not by SIGINT"
grep -q "^restore point: $backups/" "$artefacts/write.out" || fail "no result line: $(cat "$artefacts/write.out")"
[ "$(tail -n 1 "$artefacts/write.err")" = "kvz-cdi-cli: interrupted: the transfer was finished first" ] ||
    fail "the interrupted write said: $(cat "$artefacts/write.err")"
exact_dump after-write
expect_same_file "$artefacts/dump-after-write.bin" "$artefacts/expected.bin" "the unit does not hold the whole new image"
note "SIGINT during write --yes: finished, both lines, ended by SIGINT"

# Status replies 1.6 s late: a status of kvz-cdi-cli gives up on its reply and
# keeps the unit 1.5 s; the reply lands in the next read, which may fail, never lie.
set_unit rpm=4321 reply_delay_ms=5 status_reply_delay_ms=1600 memory=memory.bin request_log=requests.log
for n in 1 2 3 4; do
    start_cli "late-status-$n" status
    sleep 0.2
    if [ "$n" -lt 4 ] && run_cli "late-$n" dump "$artefacts/late-$n.bin"; then
        expect_same_file "$artefacts/late-$n.bin" "$unit/memory.bin" "a dump beside late replies took another image"
    elif [ "$n" -eq 4 ] && run_cli late-write write --yes "$artefacts/tune.cdi"; then
        expect_same_file "$unit/memory.bin" "$artefacts/expected.bin" "late replies: the write sent other bytes"
    fi
done

# Without the request log, which the limit would cut short too.
# shellcheck disable=SC2086
set_unit $late memory=memory.bin
mkdir "$artefacts/limited"
find "$backups" "$artefacts/limited" | sort >"$artefacts/files-before"
wrap="prlimit --fsize=8000"
for command in "write --yes $artefacts/tune.cdi" "read $artefacts/limited/out.cdi"; do
    status=0
    # shellcheck disable=SC2086
    run_cli limited $command || status=$?
    # One failure line, after the points the unit will not run as the file shows.
    [ "$status" -eq 5 ] && [ "$(grep -c '^kvz-cdi-cli: ' "$artefacts/limited.err")" -eq 1 ] &&
        tail -n 1 "$artefacts/limited.err" | grep -q '^kvz-cdi-cli: ' ||
        fail "$command under a file-size limit: status $status, said $(cat "$artefacts/limited.err")"
done
wrap=
find "$backups" "$artefacts/limited" | sort | diff "$artefacts/files-before" - >&2 ||
    fail "stray files after the file-size limit"
note "a file-size limit: status 5, one line, no stray file"
