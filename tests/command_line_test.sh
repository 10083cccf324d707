#!/bin/sh
# kvz-cdi's own options with no display: help and the version print to
# standard output and exit 0, an unknown option or a second file is a usage
# error with status 2; a sound command line goes on to the toolkit, which
# without a display gives up with status 1. Then
# kvz-cdi-cli's files through a pipe: a map file exported to standard
# output and imported from standard input is the map file again.
set -u
program=$1
version=$2
cli=$3
map=$4
unset DISPLAY WAYLAND_DISPLAY
TMPDIR=$(mktemp -d)
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT

fail=0
# expect STATUS STDOUT-PATTERN STDERR-PATTERN ARGS...: the patterns are
# grep -E patterns, "" for output that must be empty.
expect() {
    want_status=$1 out_pattern=$2 err_pattern=$3
    shift 3
    "$program" "$@" >"$TMPDIR/out" 2>"$TMPDIR/err"
    status=$?
    ok=1
    [ "$status" -eq "$want_status" ] || ok=0
    for stream in out err; do
        if [ "$stream" = out ]; then pattern=$out_pattern; else pattern=$err_pattern; fi
        if [ -z "$pattern" ]; then
            [ ! -s "$TMPDIR/$stream" ] || ok=0
        else
            grep -Eq -e "$pattern" "$TMPDIR/$stream" || ok=0
        fi
    done
    if [ $ok -eq 1 ]; then
        echo "ok: kvz-cdi $*"
    else
        echo "FAILED: kvz-cdi $* (status $status, wanted $want_status)"
        echo "--- stdout"; cat "$TMPDIR/out"; echo "--- stderr"; cat "$TMPDIR/err"
        fail=1
    fi
}

expect 0 "^kvz-cdi $version\$" "" --version
expect 0 '^Usage: kvz-cdi ' "" --help
expect 0 '^ -g\[eometry\] WxH\+X\+Y$' "" --help
expect 0 "^kvz-cdi $version\$" "" -iconic -V
expect 2 "" '^kvz-cdi: unknown option --bogus \(see kvz-cdi --help\)$' --bogus
expect 2 "" '^kvz-cdi: more than one file: a.cdi and b.cdi \(see kvz-cdi --help\)$' a.cdi b.cdi
expect 1 "" "Can't open display"

[ "$("$program" --version | wc -l)" -eq 1 ] || { echo "--version printed more than one line"; fail=1; }
if "$program" --version >/dev/full 2>/dev/null; then
    echo "--version into a full device exited 0"; fail=1
fi
if ! "$cli" export "$map" - | "$cli" import - "$TMPDIR/piped.cdi" ||
    ! "$cli" export "$map" - >"$TMPDIR/a.csv" || ! "$cli" export "$TMPDIR/piped.cdi" - | cmp -s "$TMPDIR/a.csv" -; then
    echo "FAILED: kvz-cdi-cli export FILE - | kvz-cdi-cli import - OUT"; fail=1
fi
exit $fail
