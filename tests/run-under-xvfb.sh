#!/bin/sh
# Runs a command against an Xvfb server of its own; Xvfb picks a free
# display number itself, so parallel tests never collide. -noreset keeps the
# server from resetting when its last client leaves: a program started again
# right after the previous one ended would find no display during the reset.
set -eu
fifo_dir=$(mktemp -d)
mkfifo "$fifo_dir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo_dir/display" 2>/dev/null &
xvfb_pid=$!
read -r display <"$fifo_dir/display"
rm -rf "$fifo_dir"
trap 'kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null || true' EXIT
DISPLAY=":$display" "$@"
