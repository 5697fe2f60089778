#!/bin/bash
# console_test-win32.sh CONSOLE_EXE ARTIFACT_DIR WINE_HOME: QuorvexConsole.exe under wine and
# xvfb-run, driven and read like the Linux console in console_test.sh, in the wine prefix
# WINE_HOME/wineprefix. Screenshots go to ARTIFACT_DIR; 77 (skip) when a tool is missing.
set -u
console=$1 artifacts=$2
source "$(dirname "$0")/console_helpers.sh"
start_test wine wineboot wineserver winepath xdotool xwininfo xprop xwd convert
shot_box_only=1
# A prefix of its own: its desktop process, started on this display, decides where windows go.
wine_home=$3 source "$(dirname "$0")/../../scripts/wine-env.sh"
trap 'kill "$console_pid" 2>/dev/null; end_wine_prefix; rm -rf "$work"' EXIT
wineboot --init >/dev/null 2>&1 || fail "wineboot --init failed"

# Its output goes to a file: a process left behind must not hold the test runner's.
QUORVEX_STATE_DIR=$(winepath -w "$work/summary") QUORVEX_CONSOLE_STATE=$(winepath -w "$state") \
  wine "$console" >"$work/console.out" 2>&1 &
console_pid=$!
await_window 60  # wine may take seconds to show its first window
# The system's two icon sizes of the window's own picture, green in the middle.
icon=$(xprop -id "$window" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
[ "$icon" = "Icon (32 x 32) Icon (16 x 16) " ] || fail "window icons: $icon"
centre=$(xprop -id "$window" -f _NET_WM_ICON 32x _NET_WM_ICON | tr ',' '\n' | sed -n 498p)
[ "$centre" = " 0xff4cc85a" ] || fail "icon centre pixel: $centre"
common_checks "cmd /c echo hello"

# The command pings the loopback address, a piece of output a second. The console works in its
# program folder, so "go" is named with its folder.
go=$(winepath -w "$work/go")
pinging='cmd /c "echo first& (for /l %i in (1,1,60) do @if not exist '"$go"' ping -n 2 127.0.0.1)'
pinging+='& echo second"'
input_between_pieces "$pinging" '.*'
xwd -id "$window" -silent | convert xwd:- "png:$artifacts/console-windows.png"

# Alt+F4 closes the window during a run too; the console ends, and the command with it (wine
# shows a Windows process by its command line).
rm go
endless='cmd /c "echo windows-endless& for /l %i in (1,1,120) do @ping -n 2 127.0.0.1"'
enter_command "$endless"
ping
wait_until "the endless command running" has "command_running=1"
xdotool key alt+F4
wait_until "the console ending when closed during a run" eval '! kill -0 "$console_pid" 2>/dev/null'
wait "$console_pid" || fail "the console closed during a run ended with status $?"
wait_until "the command ending with the console" eval "! pgrep -f 'echo windows-endless' >/dev/null"
echo "PASS (screenshots in $artifacts)"
