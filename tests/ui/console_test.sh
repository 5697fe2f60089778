#!/bin/bash
# The operator console as an operator uses it, on the X display this runs
# under (ctest starts it through xvfb-run): real key presses and mouse
# clicks through xdotool, the outcome read from the window and from the
# state file the console keeps when QUORVEX_CONSOLE_STATE is set.
#
#   console_test.sh QUORVEX_CONSOLE SEND_CLOSE ARTIFACT_DIR
#
# Screenshots of the window and of the message boxes are left in
# ARTIFACT_DIR. Exit status 77 (skipped) when a tool it drives X with is
# missing.
set -u

console=$1
send_close=$2
artifacts=$3

for tool in xdotool xwininfo xprop xwd convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
state=$work/state
console_pid=
cleanup() {
  if [ -n "$console_pid" ] && kill -0 "$console_pid" 2>/dev/null; then kill "$console_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$artifacts"

fail() {
  echo "FAIL: $*"
  if [ -f "$state" ]; then
    echo "--- window state"
    cut -c1-400 "$state"
  fi
  exit 1
}

# has LINE: the state file holds exactly this line.
has() { grep -qxF -- "$1" "$state" 2>/dev/null; }
# value KEY: the value of one key of the state file.
value() { sed -n "s/^$1=//p" "$state" 2>/dev/null; }

# wait_until DESCRIPTION COMMAND...: polls until COMMAND succeeds; a
# generous deadline only keeps a broken console from hanging the test.
wait_until() {
  local what=$1
  shift
  for _ in $(seq 300); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "never saw: $what"
}

# Pixel centres of the controls (their twip rectangles divided by 15).
host_box=(200 25)
packet_box=(160 51)
ping_button=(408 24)
trace_button=(408 48)

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
type_text() { xdotool type --delay 10 -- "$1"; }
# Replaces the host-name box's text, as an operator would.
enter_command() {
  click "${host_box[@]}"
  xdotool key ctrl+a BackSpace
  type_text "$1"
}
screenshot_window() { xwd -id "$1" -silent | convert xwd:- "png:$2"; }
idle() { has "command_running=0"; }
# The escaped form of a text as the state file shows it.
escape() { printf '%s' "$1" | sed -z 's/\\/\\\\/g; s/\n/\\n/g; s/\t/\\t/g; s/\r/\\r/g'; }
# message_box TEXT: the modal box with this text is on screen, titled
# Quorvex, and X knows a window of that name.
message_box() { has "window=Quorvex|$1" && xdotool search --name '^Quorvex$' >/dev/null; }
no_message_box() { ! grep -q '^window=' "$state"; }
dismiss_box() {
  local box
  box=$(xdotool search --name '^Quorvex$' | head -1)
  xdotool windowfocus --sync "$box" key Return
  wait_until "the message box closes" no_message_box
}

# Starts the console and waits for its window.
start_console() {
  QUORVEX_CONSOLE_STATE=$state "$console" &
  console_pid=$!
  window=$(timeout 20 xdotool search --sync --name '^Quorvex Server$' | head -1)
  [ -n "$window" ] || fail "the window \"Quorvex Server\" did not appear"
}
# close_console WHEN: closes the window; the console must end with status 0.
close_console() {
  "$send_close" "$window" || fail "could not ask the window to close"
  for _ in $(seq 100); do
    kill -0 "$console_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$console_pid" 2>/dev/null && fail "the console did not end when closed $1"
  wait "$console_pid"
  local status=$?
  console_pid=
  [ "$status" -eq 0 ] || fail "the console closed $1 ended with status $status"
}

cd "$work" || exit 1
start_console
wait_until "the first state" test -s "$state"

# The window: client area, icon in five sizes.
geometry=$(xwininfo -id "$window")
grep -q "Width: 452$" <<<"$geometry" || fail "window width: $geometry"
grep -q "Height: 319$" <<<"$geometry" || fail "window height: $geometry"
icon=$(xprop -id "$window" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
[ "$icon" = "Icon (128 x 128) Icon (48 x 48) Icon (32 x 32) Icon (24 x 24) Icon (16 x 16) " ] ||
  fail "window icons: $icon"

# Focus starts in the host-name box and Tab visits only the usable boxes
# and Ping.
wait_until "focus in txtNombreHost" has "focus=txtNombreHost"
for next in txtSalida cmdPing txtNombreHost; do
  xdotool key Tab
  wait_until "Tab to $next" has "focus=$next"
done

# Ping with an empty host-name box: the runner's modal box, nothing added.
click "${ping_button[@]}"
wait_until "the box \"Command Line empty\"" message_box "Command Line empty"
xwd -root -silent | convert xwd:- "png:$artifacts/command_line_empty.png"
dismiss_box
has "txtSalida.text=" || fail "an empty command changed the output box"

# A command line typed into the host-name box runs on Ping; its output
# lands in the output box with the caret at the end.
enter_command "/bin/echo hello"
click "${ping_button[@]}"
wait_until "the output of echo" has 'txtSalida.text=hello\n'
wait_until "the end of the run" idle
has "txtSalida.insert=6" || fail "caret not at the end after one run"

# A second click keeps the first output.
click "${ping_button[@]}"
wait_until "both outputs" has 'txtSalida.text=hello\nhello\n'
wait_until "the end of the run" idle
has "txtSalida.insert=12" || fail "caret not at the end after two runs"

# Output longer than one read arrives in many pieces and scrolls.
enter_command "/usr/bin/seq 1 400"
click "${ping_button[@]}"
expected="hello
hello
$(seq 1 400)
"
wait_until "the output of seq" has "txtSalida.text=$(escape "$expected")"
wait_until "the end of the run" idle
has "txtSalida.insert=${#expected}" || fail "caret not at the end after a long output"

# Trace and the packet-size box take no input. Tab afterwards moves the
# focus from Ping to the host-name box, which shows that the clicks and keys
# before it have been handled.
before=$(value txtSalida.text)
click "${trace_button[@]}"
click "${packet_box[@]}"
type_text "64"
xdotool key Tab
wait_until "focus back in txtNombreHost" has "focus=txtNombreHost"
[ "$(value txtSalida.text)" = "$before" ] || fail "Trace changed the output box"
has "txtPaquete.text=" || fail "the packet-size box took text"
no_message_box || fail "Trace showed a box"

# A program that does not exist: the runner's critical box.
enter_command "no-such-program-quorvex"
click "${ping_button[@]}"
wait_until "the box \"File or command not found\"" message_box "File or command not found"
xwd -root -silent | convert xwd:- "png:$artifacts/file_not_found.png"
dismiss_box
[ "$(value txtSalida.text)" = "$before" ] || fail "a failed command changed the output box"

# While a command runs, its output shows piece by piece and the window
# keeps taking input between pieces: the command prints a line, then a dot
# every 50 ms until a file appears that the test creates only after the
# window has reacted to a key, then another line.
enter_command '/bin/sh -c "echo first; while [ ! -e go ]; do sleep 0.05; printf .; done; echo second"'
click "${ping_button[@]}"
wait_until "the first line while the command runs" \
  grep -q '^txtSalida.text=.*400\\nfirst\\n\.*$' "$state"
has "command_running=1" || fail "the command ended before it was told to"
xdotool key Tab
wait_until "Tab handled during the run" has "focus=txtNombreHost"
has "command_running=1" || fail "the command ended before it was told to"
touch go
wait_until "the second line" grep -q '^txtSalida.text=.*400\\nfirst\\n\.*second\\n$' "$state"
wait_until "the end of the run" idle
has "txtSalida.insert=$(value txtSalida.length)" || fail "caret not at the end after the run"

# The ping stand-in beside the console, for the screenshot: the output box
# after a clear and a real ping of the loopback address.
folder=$(dirname "$console")
if [ -x "$folder/ping" ]; then
  enter_command "ping -n 2 127.0.0.1"
  click "${ping_button[@]}"
  wait_until "the ping summary" grep -q "Average = " "$state"
  wait_until "the end of the run" idle
  length=$(value txtSalida.length)
  has "txtSalida.insert=$length" || fail "caret not at the end after ping"
fi
# Into the output box by keyboard (a click would move its caret to the
# pointer): the caret, now drawn, stays at the end.
for next in txtNombreHost txtSalida; do
  xdotool key Tab
  wait_until "Tab to $next" has "focus=$next"
done
has "txtSalida.insert=$(value txtSalida.length)" || fail "caret moved on focus"
screenshot_window "$window" "$artifacts/console.png"

# Closing the window ends the console normally.
close_console "when idle"
# Closing the window while a command still runs ends the console at once;
# the command, its reader gone, ends at its next write.
rm -f "$state" go
start_console
wait_until "focus in txtNombreHost" has "focus=txtNombreHost"
type_text '/bin/sh -c "echo endless; while [ ! -e go ]; do sleep 0.05; printf .; done"'
click "${ping_button[@]}"
wait_until "the endless command running" grep -q '^txtSalida.text=endless' "$state"
has "command_running=1" || fail "the endless command is not running"
close_console "during a run"
for _ in $(seq 100); do
  pgrep -f 'echo endless' >/dev/null || break
  sleep 0.1
done
pgrep -f 'echo endless' >/dev/null && fail "the command outlived the console"

echo "PASS (screenshots in $artifacts)"
