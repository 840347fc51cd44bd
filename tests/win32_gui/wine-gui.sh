#!/usr/bin/env bash
# Wine GUI stories: one private Wine prefix, one Xvfb and kinestim-sim on COM1 serve both the
# window-message stories (win32_gui_tests.exe) and the real kinestim-host.exe driven with
# xdotool. Screenshots go to KINESTIM_SCREENSHOT_DIR and, with KINESTIM_UPDATE_SCREENSHOTS=1, docs/.
#   wine-gui.sh GUI_TESTS_EXE HOST_EXE [GTEST_ARGS...]
set -euo pipefail
src="${KINESTIM_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
fail() { echo "wine-gui: FAILED: $*" >&2; exit 1; }
LOADER="$(bash "$src/scripts/wine-run.sh" --loader "$1")" || exit $?
TESTS="$(readlink -f "$1")" EXE="$(readlink -f "$2")" WORK="$(mktemp -d /tmp/kinestim-gui.XXXXXX)"
SHOTS="${KINESTIM_SCREENSHOT_DIR:-$WORK}" SIM_CONTROL="$WORK/sim-control" SIM_TRANSCRIPT=""
mkdir -p "$SHOTS"

stop_all() {
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  WINEPREFIX="$WORK/prefix" wineserver -k >/dev/null 2>&1
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -z "$SIM_TRANSCRIPT" ] || { echo "--- simulator transcript (last 30 lines)"; tail -30 "$SIM_TRANSCRIPT"; }
  rm -rf "$WORK"
}
trap stop_all EXIT

# The prefix: a copy of the run's shared one (wine-tests.sh), else a new one.
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
  bash "$src/scripts/wine-prefix.sh" --clone "$WINEPREFIX" "$WORK/prefix"
else
  bash "$src/scripts/wine-prefix.sh" "$WORK/prefix" "$(case "$LOADER" in *64) echo win64 ;; *) echo win32 ;; esac)"
fi
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$WORK/display" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 1 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
# Wine's desktop process starts with the first program, so the display comes first.
export DISPLAY=":$(cat "$WORK/display")" WINEPREFIX="$WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$LOADER" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$WORK/com1" /f >/dev/null 2>&1
# COM5 names the same port, for the program started with "COM5".
"$LOADER" reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$WORK/com1" /f >/dev/null 2>&1
# Unmanaged windows: without a window manager on Xvfb, Wine waits for focus events that never come.
"$LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w  # Wine's services read the port mapping when they start again
ln -sfn "$WORK/com1" "$WINEPREFIX/dosdevices/com1"
ln -sfn "$WORK/com1" "$WINEPREFIX/dosdevices/com5"
(wineserver -p >"$WORK/wineserver.log" 2>&1 &)  # our own server, holding none of our output

# kinestim-sim on COM1 with its transcript and control pipe; COM1 names its link, which follows
# the port when the simulator makes a new one (hangup).
sim="${KINESTIM_SIM:-$(printf "%s\n" "$src"/build/*/bin/kinestim-sim | head -1)}"
[ -x "$sim" ] || fail "kinestim-sim not found; build it natively or set KINESTIM_SIM"
mkfifo "$SIM_CONTROL" && SIM_TRANSCRIPT="$WORK/transcript.txt"
"$sim" --transcript "$SIM_TRANSCRIPT" --link "$WORK/com1" <"$SIM_CONTROL" >"$WORK/sim-out.txt" 2>&1 &
SIM_PID=$!
exec 9>"$SIM_CONTROL"  # keeps the simulator's stdin open
for _ in $(seq 1 100); do [ -e "$WORK/com1" ] && break; sleep 0.05; done
[ -e "$WORK/com1" ] || { cat "$WORK/sim-out.txt" >&2; fail "kinestim-sim made no port"; }

# Part one: the window-message stories.
KINESTIM_SIM_TRANSCRIPT="Z:$SIM_TRANSCRIPT" KINESTIM_SIM_CONTROL="Z:$SIM_CONTROL" "$LOADER" "$TESTS" "${@:3}"

# Part two: an operator drives the real program with keys. expect PATTERN [WHAT]: waits for a
# line matching the pattern in the transcript since part two began.
since() { tail -c +"$START" "$SIM_TRANSCRIPT"; }
expect() {
  for _ in $(seq 1 150); do since | grep -Eq "$1" && return 0; sleep 0.1; done
  fail "no '$1' in the transcript${2:+ after $2}"
}
key() { xdotool key "$1"; expect "$2" "$1"; }
window() { timeout 30 xdotool search --sync --name "^$1\$" | head -1; }
# Gives a window the focus once it is mapped, which follows its creation a little later.
focus() { for _ in $(seq 1 100); do xdotool windowfocus --sync "$1" 2>/dev/null && return 0; sleep 0.05; done; return 1; }
# The program's end: status 0 within 30 s, else the test fails saying after what.
ended() { rc=0 && timeout 30 tail --pid="$host" -f /dev/null && wait "$host" || rc=$?; [ "$rc" -eq 0 ] || fail "exit code $rc $1"; }
# A port number the program cannot open ends it with a fatal error box and status 1, and so
# does text that names no port, before any port is opened; "COM5" in any case opens COM5.
for port in 10000 abc; do
  "$LOADER" "$EXE" "$port" >/dev/null 2>&1 &
  host=$!
  focus "$(window 'Fatal Error!')" && xdotool key Return || fail "$port gave no Fatal Error box"
  rc=0 && wait "$host" || rc=$?
  [ "$rc" = 1 ] || fail "$port ended with status $rc"
done
START=$(($(stat -c %s "$SIM_TRANSCRIPT") + 1))
"$LOADER" "$EXE" com5 >/dev/null 2>&1 &
host=$!
win="$(window 'Kinestim Host')" || fail "com5: the main window never appeared"
echo power-cycle >&9
expect '< 0b mdgEnteredModeIdle' "power-on through COM5"
focus "$win" && xdotool key alt+F4
ended "through COM5 after Alt+F4"

START=$(($(stat -c %s "$SIM_TRANSCRIPT") + 1))
"$LOADER" "$EXE" 1 >"$WORK/host-out.txt" 2>&1 &
host=$!
win="$(window 'Kinestim Host')" || fail "the main window never appeared"
echo power-cycle >&9
expect '< 0b mdgEnteredModeIdle' "power-on"
sleep 1
START=$(($(stat -c %s "$SIM_TRANSCRIPT") + 1))  # past the start-up question, so the typed 8 counts
xdotool windowfocus --sync "$win"
# Ctrl+A shows the Command box; a number typed in it survives Ctrl+A twice, then Enter sends it.
xdotool key ctrl+a && sleep 0.5 && xdotool type --delay 40 "8" && xdotool key ctrl+a ctrl+a && sleep 0.5
key Return '> 08 cdgDldMode'
key ctrl+d '> 02 cdgSelectModeDirect'
key alt+t '> 1c cdgDldTilt'  # Read &Tilt
expect '< .* mdgTilt' "Read Tilt"
# Tab, then Shift+Tab, round every control at both widths: no frame (Tab is Ctrl+I's character).
before="$(since | grep -c ' > ')"
for _ in 1 2; do xdotool key --delay 20 $(printf 'Tab %.0s' {1..16}) $(printf 'shift+Tab %.0s' {1..16}) ctrl+a; done
sleep 0.5
[ "$(since | grep -c ' > ')" = "$before" ] || fail "Tab or Shift+Tab sent a frame"
# Slider 1 by Tab from the Command box (Send, Clear, Run, Script Manager; Local Control is grey).
slider1() { xdotool key ctrl+a ctrl+a && sleep 0.3 && xdotool key --delay 40 Tab Tab Tab Tab Tab; }
slider1
key Down '> 09 01 80 cdgSetElectrode'
# A Tilt Loop of 400 readings at step 1 (400 frames back to back, 10 s): the window still
# answers. Down pressed after frame 40 is on the line before frame 120, and the last reading
# reaches the top of the Received pane.
echo "noise 3" >&9
xdotool key alt+l
focus "$(window 'Enter Parameters')" || fail "Tilt Loop opened no parameter dialog"
xdotool key End BackSpace BackSpace BackSpace BackSpace && xdotool type --delay 40 "400"
xdotool key Tab End BackSpace BackSpace BackSpace BackSpace && xdotool type --delay 40 "1"
mark=$(($(stat -c %s "$SIM_TRANSCRIPT") + 1))
key Return '> 1e 90 01 01.*cdgTiltLoop'
tilts() { tail -c +"$mark" "$SIM_TRANSCRIPT" | grep -c ' < 32 .*mdgTilt' || true; }
xdotool windowfocus --sync "$win" && slider1
for _ in $(seq 1 300); do [ "$(tilts)" -gt 40 ] && break; sleep 0.05; done
xdotool key Down
expect '> 09 01 81 cdgSetElectrode' "Down during the Tilt Loop"
early="$(tail -c +"$mark" "$SIM_TRANSCRIPT" | awk '/> 09 01 81 cdgSetElectrode/ { print n + 0; exit } / < 32 .*mdgTilt/ { n++ }')"
[ "$early" -lt 120 ] || fail "Down during the Tilt Loop went out after frame $early, not before frame 120"
for _ in $(seq 1 600); do [ "$(tilts)" -ge 400 ] && break; sleep 0.05; done
[ "$(tilts)" = 400 ] || fail "the Tilt Loop sent $(tilts) readings, not 400"
# The Received pane's top line, copied to the clipboard (Shift+Tab twice from the Command box).
top_line() {
  xdotool key ctrl+a ctrl+a && sleep 0.3 && xdotool key --delay 40 shift+Tab shift+Tab ctrl+Home shift+End ctrl+c
  sleep 0.3 && xclip -o -selection clipboard 2>/dev/null | head -1 | tr -d '\r'
}
last="$(grep ' < 32 .*mdgTilt' "$SIM_TRANSCRIPT" | tail -1 | awk '{ printf "32 mdgTilt"; for (i = 4; i <= 11; i++) printf " <%s>", $i }')"
for _ in $(seq 1 20); do [ "$(top_line)" = "$last" ] && break; sleep 0.5; done
[ "$(top_line)" = "$last" ] || fail "the Received pane's top line is '$(top_line)', not the last reading '$last'"
# Enter in a pane sends nothing, though the Command box holds a number; from the box it sends.
before="$(since | grep -c ' > ')"
xdotool key Return ctrl+a ctrl+a && sleep 0.3 && xdotool key Return
for _ in $(seq 1 150); do [ "$(since | grep -c '> 08 cdgDldMode')" -ge 2 ] && break; sleep 0.1; done
[ "$(since | grep -c ' > ')" = $((before + 1)) ] || fail "Enter in the Received pane sent a frame: $(since | grep ' > ' | tail -n +$((before + 1)))"
# On slider 1: Enter, letters that underline buttons, Home and End send nothing; Down does.
slider1
before="$(since | grep -c ' > ')"
xdotool key --delay 100 Return r t Home End
key Down '> 09 01 82 cdgSetElectrode'
[ "$(since | grep -c ' > ')" = $((before + 1)) ] || fail "Enter, r, t, Home or End on a slider sent a frame: $(since | grep ' > ' | tail -n +$((before + 1)))"
import -window "$win" "$SHOTS/screenshot-main.png"
key ctrl+i '> 03 cdgDeselectModeDirect'
[ "$(since | grep -cE '> 0[23] ')" = 2 ] || fail "Ctrl+D or Ctrl+I went out more than once"
key alt+r '> 06 cdgSelectModeRunScr'  # &Run asks for an address
focus "$(window 'Enter Parameters')" || fail "Run opened no parameter dialog"
xdotool key End BackSpace BackSpace BackSpace BackSpace && xdotool type --delay 40 "0"
key Return '> 12 00 00 cdgScrRun'
# The button turns into St&op once the host has read mdgScrStarted; the closed dialog leaves
# the keyboard focus nowhere, so the main window takes it back first.
expect '< 26 00 00 mdgScrStarted' "Run" && sleep 0.3
xdotool windowfocus --sync "$win"
key alt+o '> 14 cdgScrStop'
expect '< .*mdgModeRunScrDeselected' "Stop"
xdotool windowfocus --sync "$win"
key alt+m '> 04 cdgSelectModePgmScr'  # Script &Manager, which then opens
sm="$(window 'Script Manager')" || fail "the Script Manager never appeared"
sleep 1.5
import -window "$sm" "$SHOTS/screenshot-script-manager.png"
# Preview asks for a source and opens its plot in a window of its own; Escape closes that.
xdotool windowfocus --sync "$sm" key alt+r
open="$(window 'Open')" || fail "Preview asked for no file"
# The dialog puts the focus in its file name field a little after it is shown; on a busy
# machine the first keys may come before that, so the name is typed again while no plot shows.
plot=""
for _ in 1 2 3; do
  focus "$open" && sleep 0.5
  xdotool key ctrl+a && xdotool type --delay 10 "Z:$(tr / '\\' <<< "$src/docs/examples/biphasic-loop.ks")"
  xdotool key Return
  plot="$(timeout 10 xdotool search --sync --name '^Preview$' | head -1)" || true
  [ -n "$plot" ] && break
done
[ -n "$plot" ] || fail "Preview opened no plot window"
sleep 0.5
import -window "$plot" "$SHOTS/preview-window.png"
focus "$plot" && xdotool key Escape
timeout 10 bash -c "while xdotool search --name '^Preview\$' >/dev/null 2>&1; do sleep 0.1; done" ||
  fail "Escape did not close the plot window"
xdotool windowfocus --sync "$sm" key Escape
timeout 10 bash -c "while xdotool search --name '^Script Manager\$' >/dev/null 2>&1; do sleep 0.1; done" ||
  fail "Escape did not close the Script Manager"
# A restart against a running device. Left in Direct with a current, the program closes only
# when told to leave it so; started again, it asks the device and learns both, so its own close
# asks too, and "Idle and close" returns the device to Idle before it ends.
START=$(($(stat -c %s "$SIM_TRANSCRIPT") + 1))
xdotool windowfocus --sync "$win"
key ctrl+d '> 02 cdgSelectModeDirect'
expect '< .*mdgEnteredModeDirect' "Ctrl+D"
START=$(($(stat -c %s "$SIM_TRANSCRIPT") + 1))
slider1
key Up '> 09 01 [0-9a-f]{2} cdgSetElectrode'
xdotool windowfocus --sync "$win" key alt+F4
close="$(window 'Close Kinestim Host')"
focus "$close" || fail "Alt+F4 with a current asked nothing"
# A stray letter answers nothing; Alt with it does.
xdotool key --delay 100 l i && sleep 0.5
xdotool search --name '^Close Kinestim Host$' >/dev/null || fail "a bare letter answered the closing question"
xdotool key alt+l
ended "after Leave it and close"
[ "$(since | grep -c ' > ')" = 1 ] || fail "Leave it and close sent: $(since | grep ' > ' | tail -n +2)"
START=$(($(stat -c %s "$SIM_TRANSCRIPT") + 1))
"$LOADER" "$EXE" 1 >"$WORK/host-out.txt" 2>&1 &
host=$!
win="$(window 'Kinestim Host')" || fail "the main window never appeared again"
expect '< 1b 03 mdgMode' "the restart"
expect '< 1c .*mdgAllElectrodesDld' "the restart in Direct"
sent() { since | awk '/ > / { sub(/^.* > /, ""); printf "%s|", $0 }'; }
[ "$(sent)" = "08 cdgDldMode|0b cdgDldAllElectrodes|" ] || fail "the restarted program sent: $(sent)"
focus "$win" && xdotool key alt+F4
focus "$(window 'Close Kinestim Host')" || fail "the restarted program closed without asking"
xdotool key alt+i
ended "after Idle and close"
[ "$(sent)" = "08 cdgDldMode|0b cdgDldAllElectrodes|03 cdgDeselectModeDirect|" ] && since | grep -q mdgEnteredModeIdle ||
  fail "Idle and close: sent $(sent), then no Idle"
[ "${KINESTIM_UPDATE_SCREENSHOTS:-0}" = 1 ] && cp "$SHOTS"/screenshot-{main,script-manager}.png "$src/docs/"
SIM_TRANSCRIPT=""
echo "wine-gui: passed; screenshots in $SHOTS"
