#!/bin/bash
# console_test.sh CONSOLE ARTIFACT_DIR SEND_CLOSE: the console under xvfb-run, driven by real
# keys and clicks (xdotool), read from X and from its QUORVEX_CONSOLE_STATE file. Screenshots go
# to ARTIFACT_DIR; 77 (skip) when an X tool is missing.
set -u
console=$1 artifacts=$2 send_close=$3
for tool in xdotool xwininfo xprop xwd convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
state=$work/state
console_pid=
trap 'kill "$console_pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$artifacts"
cd "$work" || exit 1

fail() { echo "FAIL: $*"; cut -c1-400 "$state" 2>/dev/null; exit 1; }
has() { grep -qxF -- "$1" "$state" 2>/dev/null; }
# wait_until DESCRIPTION COMMAND...: the deadline only keeps a broken
# console from hanging the test.
wait_until() {
  for _ in $(seq 300); do "${@:2}" && return 0; sleep 0.1; done
  fail "never saw: $1"
}
idle() { has "command_running=0"; }
# Pixel centres of the controls: their rectangles in twips divided by 15.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
ping() { click 408 24; }
enter_command() {
  click 200 25
  xdotool key ctrl+a BackSpace type --delay 10 -- "$1"
}
# message_box TEXT: a modal box with this text, titled Quorvex, is on screen.
message_box() { has "window=Quorvex|$1" && xdotool search --name '^Quorvex$' >/dev/null; }
no_message_box() { ! grep -q '^window=' "$state"; }
# dismiss_box SCREENSHOT: keeps a picture of the screen, then presses Return.
dismiss_box() {
  xwd -root -silent | convert xwd:- "png:$artifacts/$1"
  xdotool windowfocus --sync "$(xdotool search --name '^Quorvex$' | head -1)" key Return
  wait_until "the message box closes" no_message_box
}

QUORVEX_CONSOLE_STATE=$state "$console" &
console_pid=$!
window=$(timeout 20 xdotool search --sync --name '^Quorvex Server$' | head -1)
[ -n "$window" ] || fail "no window titled \"Quorvex Server\""
wait_until "the first state" test -s "$state"
geometry=$(xwininfo -id "$window" | grep -Eo '(Width|Height): [0-9]+' | tr '\n' ' ')
[ "$geometry" = "Width: 452 Height: 319 " ] || fail "client area: $geometry"
icon=$(xprop -id "$window" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
[ "$icon" = "Icon (128 x 128) Icon (48 x 48) Icon (32 x 32) Icon (24 x 24) Icon (16 x 16) " ] ||
  fail "window icons: $icon"

# Tab visits only the host-name box, the output box and Ping.
wait_until "focus in txtNombreHost" has "focus=txtNombreHost"
for next in txtSalida cmdPing txtNombreHost; do
  xdotool key Tab
  wait_until "Tab to $next" has "focus=$next"
done

ping
wait_until "the box \"Command Line empty\"" message_box "Command Line empty"
dismiss_box command_line_empty.png
has "txtSalida.text=" || fail "an empty command changed the output box"

# The host-name box runs as a whole command line; a second click keeps the
# first output.
enter_command "/bin/echo hello"
ping
wait_until "the output of echo" has 'txtSalida.text=hello\n'
wait_until "the end of the run" idle
ping
wait_until "both outputs" has 'txtSalida.text=hello\nhello\n'
wait_until "the end of the run" idle

# Trace and the packet-size box take no input; Tab afterwards shows that
# the clicks and keys before it have been handled.
click 408 48
click 160 51
xdotool type -- "64"
xdotool key Tab
wait_until "focus back in txtNombreHost" has "focus=txtNombreHost"
has 'txtSalida.text=hello\nhello\n' || fail "Trace changed the output box"
has "txtPaquete.text=" || fail "the packet-size box took text"
no_message_box || fail "Trace showed a box"

enter_command "no-such-program-quorvex"
ping
wait_until "the box \"File or command not found\"" message_box "File or command not found"
dismiss_box file_not_found.png
has 'txtSalida.text=hello\nhello\n' || fail "a failed command changed the output box"

# While a command runs its output shows piece by piece and the window takes
# input between pieces: the command prints a dot every 50 ms until a file
# appears that the test makes only after a key has been handled.
enter_command '/bin/sh -c "echo first; while [ ! -e go ]; do sleep 0.05; printf .; done; echo second"'
ping
wait_until "the first line during the run" grep -q '^txtSalida.text=hello\\nhello\\nfirst\\n\.*$' "$state"
xdotool key Tab
wait_until "Tab handled during the run" has "focus=txtNombreHost"
has "command_running=1" || fail "the command ended before it was told to"
touch go
wait_until "the second line" grep -q '^txtSalida.text=hello\\nhello\\nfirst\\n\.*second\\n$' "$state"
wait_until "the end of the run" idle
has "txtSalida.insert=$(sed -n 's/^txtSalida.length=//p' "$state")" || fail "caret not at the end after the run"
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
