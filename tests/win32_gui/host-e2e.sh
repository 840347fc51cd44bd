#!/usr/bin/env bash
# End to end: the real kinestim-host.exe under Wine and Xvfb with COM1 on kinestim-sim, driven with
# xdotool; screenshots go to KINESTIM_SCREENSHOT_DIR and, with KINESTIM_UPDATE_SCREENSHOTS=1, docs/.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
fail() { echo "host-e2e: FAILED: $*" >&2; exit 1; }
# expect PATTERN [WHAT [SECONDS]]: waits for a transcript line matching the pattern.
expect() {
  for _ in $(seq 1 $(( ${3:-15} * 10 ))); do grep -Eq "$1" "$SIM_TRANSCRIPT" && return 0; sleep 0.1; done
  fail "no '$1' in the transcript${2:+ after $2}"
}
key() { xdotool key "$1"; expect "$2" "$1"; }
sent() { grep -c ' > ' "$SIM_TRANSCRIPT"; }
# tabs WHAT: Tab, then Shift+Tab, twice round every control at both widths; no frame may go out.
tabs() {
  local before i
  before="$(sent)"
  for i in 1 2; do
    xdotool key --delay 40 $(printf 'Tab %.0s' {1..16}) $(printf 'shift+Tab %.0s' {1..16}) ctrl+a
    sleep 0.5
  done
  sleep 0.5
  [ "$(sent)" = "$before" ] || fail "Tab or Shift+Tab sent a frame ($1)"
}
# window NAME: the first window with this exact title, waited for.
window() { timeout 30 xdotool search --sync --name "^$1\$" | head -1; }
# shot NAME WINDOW...: a screenshot of the screen rectangle that holds the windows.
shot() {
  local name="$1" w x0=100000 y0=100000 x1=0 y1=0 X Y WIDTH HEIGHT; shift
  for w in "$@"; do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    x0=$((X < x0 ? X : x0)) y0=$((Y < y0 ? Y : y0))
    x1=$((X + WIDTH > x1 ? X + WIDTH : x1)) y1=$((Y + HEIGHT > y1 ? Y + HEIGHT : y1))
  done
  import -window root -crop "$((x1 - x0 + 4))x$((y1 - y0 + 4))+$((x0 > 2 ? x0 - 2 : 0))+$((y0 > 2 ? y0 - 2 : 0))" \
    +repage "$SHOTS/screenshot-$name.png"
}

inner() {
  "$LOADER" "$EXE" 1 >"$WORK/host-out.txt" 2>&1 &
  local host=$! win sm rc=0
  win="$(timeout 60 xdotool search --sync --name '^Kinestim Host$' | head -1)" || fail "the main window never appeared"
  expect '< 0b mdgEnteredModeIdle' "power-on" 10
  sleep 1.5
  xdotool windowfocus --sync "$win"
  xdotool key ctrl+a  # shows the Command box and the traffic panes
  sleep 1
  xdotool type --delay 60 "8"  # a command number into the Command box, then Enter
  key Return '> 08 cdgDldMode'
  tabs Idle
  key ctrl+d '> 02 cdgSelectModeDirect'
  expect '> 0b cdgDldAllElectrodes' "Direct mode"
  key alt+t '> 1c cdgDldTilt'  # Read &Tilt
  sleep 3
  shot main "$win"
  tabs Direct
  key ctrl+i '> 03 cdgDeselectModeDirect'
  expect '< 16 mdgModeDirectDeselected'
  sleep 1
  # Run asks for an address: a refused one gives a Warning over the dialog; then a click on the
  # main window's Mode menu and Down, Enter would choose Idle if the menu opened. Nothing may go out.
  key alt+r '> 06 cdgSelectModeRunScr'
  params="$(window 'Enter Parameters')" || fail "Run opened no parameter dialog"
  xdotool windowfocus --sync "$params"
  xdotool type --delay 60 "1.5"
  xdotool key Return
  warning="$(window Warning)" || fail "the refused address gave no Warning"
  sleep 1
  shot warning "$win" "$params" "$warning"
  local before x y
  before="$(sent)"
  xdotool key Return
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove "$((X + 45))" "$((Y + 30))" click 1
  sleep 1
  shot click "$win" "$params"
  xdotool key Down Return
  sleep 1
  [ "$(sent)" = "$before" ] || fail "the main window took a click while the parameter dialog was open"
  warning="$(xdotool search --name '^Warning$' | head -1)" || true
  [ -z "$warning" ] || { xdotool windowfocus --sync "$warning"; xdotool key Return; sleep 1; }
  xdotool windowfocus --sync "$params"
  xdotool key End BackSpace BackSpace BackSpace BackSpace
  xdotool type --delay 60 "0"
  key Return '> 12 00 00 cdgScrRun'
  sleep 1
  xdotool windowfocus --sync "$win"
  tabs "running script"
  key ctrl+i '> 07 cdgDeselectModeRunScr'
  sleep 1.5
  key alt+m '> 04 cdgSelectModePgmScr'  # Script &Manager, which then opens
  sm="$(timeout 30 xdotool search --sync --name '^Script Manager$' | head -1)" || fail "the Script Manager never appeared"
  sleep 2
  shot script-manager "$win" "$sm"
  xdotool windowfocus --sync "$sm"
  xdotool key Escape
  timeout 10 bash -c "while xdotool search --name '^Script Manager\$' >/dev/null 2>&1; do sleep 0.1; done" ||
    fail "Escape did not close the Script Manager"
  # The cable is pulled for two seconds: one Warning, "Link lost", then back by itself.
  xdotool windowfocus --sync "$win"
  echo "hangup 2000" >"$SIM_CONTROL"
  local warn asked
  warn="$(timeout 30 xdotool search --sync --name '^Warning$' | head -1)" || fail "no Warning when the port hung up"
  xdotool windowfocus --sync "$warn"
  xdotool key Return
  sleep 0.5
  shot link-lost "$win"
  for _ in $(seq 1 100); do
    asked="$(grep -c '> 08 cdgDldMode' "$SIM_TRANSCRIPT")"
    [ "$asked" -ge 2 ] && break
    sleep 0.1
  done
  [ "$asked" -ge 2 ] || fail "the mode was not asked again after the port came back"
  sleep 1
  shot link-restored "$win"
  xdotool windowfocus --sync "$win"
  xdotool key alt+F4
  timeout 30 tail --pid="$host" -f /dev/null || fail "the program did not end after Alt+F4"
  wait "$host" || rc=$?
  [ "$rc" -eq 0 ] || fail "exit code $rc"
}

if [ "${1:-}" = "--inner" ]; then inner; exit 0; fi
EXE="$(readlink -f "$1")" WORK="$(mktemp -d /tmp/kinestim-e2e.XXXXXX)"
SHOTS="${KINESTIM_SCREENSHOT_DIR:-$WORK}"
mkdir -p "$SHOTS"
trap 'stop_all; rm -rf "$WORK"' EXIT
wine_prefix "$WORK" "$EXE"
wine_sim "$WORK"
export EXE LOADER WORK SHOTS SIM_TRANSCRIPT SIM_CONTROL
rc=0
timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inner || rc=$?
echo "--- simulator transcript"
cat "$SIM_TRANSCRIPT"
[ "$rc" -eq 0 ] || exit "$rc"
[ "$(grep -oE '> .*(cdgDldMode|cdgSelectModeDirect)' "$SIM_TRANSCRIPT" | head -2 | sed 's/.* //' | tr '\n' ' ')" = \
  "cdgDldMode cdgSelectModeDirect " ] || fail "Dld Mode did not go out before Select Mode Direct"
[ "${KINESTIM_UPDATE_SCREENSHOTS:-0}" = 1 ] && cp "$SHOTS"/screenshot-{main,script-manager}.png "$src/docs/"
echo "host-e2e: passed; screenshots in $SHOTS"
