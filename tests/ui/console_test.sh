#!/bin/bash
# console_test.sh CONSOLE ARTIFACT_DIR SEND_CLOSE: the console under xvfb-run, driven by real
# keys and clicks (xdotool), read from X and from its QUORVEX_CONSOLE_STATE file. Screenshots go
# to ARTIFACT_DIR; 77 (skip) when an X tool is missing.
set -u
console=$1 artifacts=$2 send_close=$3
source "$(dirname "$0")/console_helpers.sh"
start_test xdotool xwininfo xprop xwd convert

QUORVEX_STATE_DIR=$work/summary QUORVEX_CONSOLE_STATE=$state "$console" &
console_pid=$!
await_window 20
icon=$(xprop -id "$window" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
[ "$icon" = "Icon (128 x 128) Icon (48 x 48) Icon (32 x 32) Icon (24 x 24) Icon (16 x 16) " ] ||
  fail "window icons: $icon"
common_checks "/bin/echo hello"

# The command prints a dot every 50 ms.
input_between_pieces \
  '/bin/sh -c "echo first; while [ ! -e go ]; do sleep 0.05; printf .; done; echo second"' '\.*'
xwd -id "$window" -silent | convert xwd:- "png:$artifacts/console.png"

# A command that never ends runs on until a person closes the window; then
# the console ends, and the command with it.
enter_command '/bin/sh -c "echo endless; while :; do sleep 0.05; printf .; done"'
ping
wait_until "the endless command running" has "command_running=1"
"$send_close" "$window" || fail "could not ask the window to close"
wait_until "the console ending when closed during a run" eval '! kill -0 "$console_pid" 2>/dev/null'
wait "$console_pid" || fail "the console closed during a run ended with status $?"
wait_until "the command ending with the console" eval "! pgrep -f 'echo endless' >/dev/null"
echo "PASS (screenshots in $artifacts)"
