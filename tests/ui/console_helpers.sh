# Shared by the console tests (sourced): reading the console's state file
# ($state), driving its window ($window) with real keys and clicks, and the
# checks both consoles pass alike.

# start_test TOOL...: skips (77) without a tool, else moves into a work folder gone at exit.
start_test() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  work=$(mktemp -d)
  state=$work/state
  console_pid=
  trap 'kill "$console_pid" 2>/dev/null; rm -rf "$work"' EXIT
  mkdir -p "$artifacts"
  cd "$work" || exit 1
  # The summary a run of the job left, for the status line.
  mkdir summary
  printf '{"end": "2026-01-02T03:04:05Z", "exit_status": 78, "sweep": {"selected": 2, "measured": 1}, "usage_report": {"outcome": "not_run"}}' >summary/last-run.json
}
fail() { echo "FAIL: $*"; cut -c1-400 "$state" 2>/dev/null; exit 1; }
has() { grep -qxF -- "$1" "$state" 2>/dev/null; }
# wait_until DESCRIPTION COMMAND...: the deadline only keeps a broken console from hanging.
wait_until() {
  for _ in $(seq 300); do "${@:2}" && return 0; sleep 0.1; done
  fail "never saw: $1"
}
# await_window SECONDS: the console's main window, shown and describing itself.
await_window() {
  window=$(timeout "$1" xdotool search --sync --name '^Quorvex Server$' | head -1)
  [ -n "$window" ] || fail "no window titled \"Quorvex Server\""
  wait_until "the first state" test -s "$state"
}
idle() { has "command_running=0"; }
# Pixel centres of the controls: their rectangles in twips divided by 15.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
ping() { click 408 24; }
enter_command() {
  click 200 25
  xdotool key End shift+Home BackSpace type --delay 10 -- "$1"
}
box_window() { xdotool search --onlyvisible --name '^Quorvex$' | head -1; }
# message_box TEXT: a modal box with this text, titled Quorvex, is on screen.
message_box() { has "window=Quorvex|$1" && [ -n "$(box_window)" ]; }
no_message_box() { ! grep -q '^window=' "$state"; }
# dismiss_box SCREENSHOT: a picture of the screen (of the box alone with $shot_box_only: wine
# on Xvfb leaves its boxes unpainted on the screen itself), then Return in the box.
dismiss_box() {
  local target=-root
  [ -n "${shot_box_only:-}" ] && target="-id $(box_window)"
  xwd $target -silent | convert xwd:- "png:$artifacts/$1"
  xdotool windowfocus --sync "$(box_window)" key Return
  wait_until "the message box closes" no_message_box
}

# common_checks ECHO_HELLO (a command line printing "hello"), on a fresh window: the client area
# (6780 x 4785 twips at 96 dpi) and the status line under it, focus order, the runner's boxes, output kept, Trace unused.
common_checks() {
  geometry=$(xwininfo -id "$window" | grep -Eo '(Width|Height): [0-9]+' | tr '\n' ' ')
  # 319 pixels of the client area, then 20 of the status line.
  [ "$geometry" = "Width: 452 Height: 339 " ] || fail "client area: $geometry"
  has "status=Last run 2026-01-02T03:04:05Z: exit 78, usage not_run, 1/2 servers measured" ||
    fail "status line"
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
  # The host-name box runs as a whole command line; a second click keeps the first output.
  enter_command "$1"
  ping
  wait_until "the output of echo" has 'txtSalida.text=hello\n'
  wait_until "the end of the run" idle
  ping
  wait_until "both outputs" has 'txtSalida.text=hello\nhello\n'
  wait_until "the end of the run" idle
  # Tab afterwards shows that the clicks and keys before it were handled.
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
}

# input_between_pieces COMMAND FILLER: the window takes a key between pieces of output while
# COMMAND prints "first", FILLER until the file "go" (made after the key) appears, "second".
input_between_pieces() {
  local shown='^txtSalida.text=hello\\nhello\\nfirst\\n'"$2"
  enter_command "$1"
  ping
  wait_until "the first line during the run" grep -q "$shown\$" "$state"
  xdotool key Tab
  wait_until "Tab handled during the run" has "focus=txtNombreHost"
  has "command_running=1" || fail "the command ended before it was told to"
  touch go
  wait_until "the second line" grep -q "$shown"'second\\n$' "$state"
  wait_until "the end of the run" idle
  has "txtSalida.insert=$(sed -n 's/^txtSalida.length=//p' "$state")" || fail "caret not at the end"
}
