#!/usr/bin/env bash
# End to end: starts the real kinestim-host.exe under Wine on its own Xvfb display with COM1
# mapped to kinestim-sim, types into it with xdotool, checks the simulator's transcript and
# takes screenshots of the main window and the Script Manager.
#   host-e2e.sh EXE          (KINESTIM_SCREENSHOT_DIR: where the screenshots go;
#                             KINESTIM_UPDATE_SCREENSHOTS=1 also copies them to docs/)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh"

fail() { echo "host-e2e: FAILED: $*" >&2; exit 1; }

# wait_transcript PATTERN SECONDS: waits for a transcript line matching the pattern.
wait_transcript() {
  local i
  for i in $(seq 1 $(( $2 * 10 ))); do
    grep -Eq "$1" "$SIM_TRANSCRIPT" && return 0
    sleep 0.1
  done
  return 1
}

# window_box WIN...: the screen rectangle (WxH+X+Y) that holds the given windows.
window_box() {
  local w x0=100000 y0=100000 x1=0 y1=0 X Y WIDTH HEIGHT
  for w in "$@"; do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$X" -lt "$x0" ] && x0=$X
    [ "$Y" -lt "$y0" ] && y0=$Y
    [ $((X + WIDTH)) -gt "$x1" ] && x1=$((X + WIDTH))
    [ $((Y + HEIGHT)) -gt "$y1" ] && y1=$((Y + HEIGHT))
  done
  echo "$((x1 - x0 + 4))x$((y1 - y0 + 4))+$((x0 > 2 ? x0 - 2 : 0))+$((y0 > 2 ? y0 - 2 : 0))"
}

inner() {
  "$LOADER" "$EXE" 1 >"$WORK/host-out.txt" 2>&1 &
  local host=$! win sm
  win="$(timeout 60 xdotool search --sync --name '^Kinestim Host$' | head -1)" ||
    fail "the main window never appeared"
  wait_transcript '< 0b mdgEnteredModeIdle' 10 || fail "the simulator never powered on"
  sleep 1.5
  # A command number typed into the Command box, then Enter.
  xdotool windowfocus --sync "$win"
  xdotool type --delay 60 "8"
  xdotool key Return
  wait_transcript '> 08 cdgDldMode' 15 || fail "typing 8 and Enter sent no cdgDldMode"
  # Ctrl+D selects Direct mode; the host then asks for the electrodes.
  xdotool key ctrl+d
  wait_transcript '> 02 cdgSelectModeDirect' 15 || fail "Ctrl+D sent no cdgSelectModeDirect"
  wait_transcript '> 0b cdgDldAllElectrodes' 15 || fail "Direct mode did not ask for the electrodes"
  # Alt+T presses "Read &Tilt"; the angles appear in the X and Y fields.
  xdotool key alt+t
  wait_transcript '> 1c cdgDldTilt' 15 || fail "Alt+T sent no cdgDldTilt"
  # Ctrl+A shows the advanced windows (the Command box and the traffic panes).
  xdotool key ctrl+a
  sleep 3
  import -window root -crop "$(window_box "$win")" +repage "$SHOTS/screenshot-main.png"
  # Ctrl+I leaves Direct mode; Alt+M presses "Script &Manager", which selects Program Script
  # mode and opens the Script Manager.
  xdotool key ctrl+i
  wait_transcript '> 03 cdgDeselectModeDirect' 15 || fail "Ctrl+I sent no cdgDeselectModeDirect"
  wait_transcript '< 16 mdgModeDirectDeselected' 15 || fail "the device did not leave Direct mode"
  sleep 1
  xdotool key alt+m
  wait_transcript '> 04 cdgSelectModePgmScr' 15 || fail "Alt+M sent no cdgSelectModePgmScr"
  sm="$(timeout 30 xdotool search --sync --name '^Script Manager$' | head -1)" ||
    fail "the Script Manager never appeared"
  sleep 2
  import -window root -crop "$(window_box "$win" "$sm")" +repage "$SHOTS/screenshot-script-manager.png"
  xdotool windowfocus --sync "$sm"
  xdotool key Escape
  local i
  for i in $(seq 1 100); do
    xdotool search --name '^Script Manager$' >/dev/null 2>&1 || break
    sleep 0.1
  done
  xdotool search --name '^Script Manager$' >/dev/null 2>&1 && fail "Escape did not close the Script Manager"
  # Alt+F4 closes the main window; the program ends with 0.
  xdotool windowfocus --sync "$win"
  xdotool key alt+F4
  local rc=0
  timeout 30 tail --pid="$host" -f /dev/null || fail "the program did not end after Alt+F4"
  wait "$host" || rc=$?
  [ "$rc" -eq 0 ] || fail "exit code $rc"
  echo "host-e2e: the program ended with exit code 0"
}

if [ "${1:-}" = "--inner" ]; then
  inner
  exit 0
fi

EXE="$(readlink -f "$1")"
LOADER="$(wine_loader_for "$EXE")"
WORK="$(mktemp -d /tmp/kinestim-e2e.XXXXXX)"
SHOTS="${KINESTIM_SCREENSHOT_DIR:-$WORK}"
mkdir -p "$SHOTS"
trap 'stop_all; rm -rf "$WORK"' EXIT
make_prefix "$WORK/prefix" "$LOADER" || fail "could not create the Wine prefix"
start_sim "$WORK"
map_com1 "$LOADER" "$SIM_PORT"
quiet_server "$WORK/wineserver.log"
export EXE LOADER WORK SHOTS SIM_TRANSCRIPT
set +e
timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inner
rc=$?
set -e
echo "--- simulator transcript"
cat "$SIM_TRANSCRIPT"
[ "$rc" -eq 0 ] || exit "$rc"
# Order on the line: Dld Mode before Select Mode Direct; nothing after the window closed.
grep -n '> ' "$SIM_TRANSCRIPT" | grep -E 'cdgDldMode|cdgSelectModeDirect' | head -2 |
  awk 'NR==1 && !/cdgDldMode/ {exit 1} NR==2 && !/cdgSelectModeDirect/ {exit 1}' ||
  fail "commands went out in the wrong order"
if [ "${KINESTIM_UPDATE_SCREENSHOTS:-0}" = 1 ]; then
  src="${KINESTIM_SOURCE_DIR:-$(cd "$here/../.." && pwd)}"
  cp "$SHOTS/screenshot-main.png" "$SHOTS/screenshot-script-manager.png" "$src/docs/"
fi
echo "host-e2e: passed; screenshots in $SHOTS"
