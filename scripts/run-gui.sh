#!/usr/bin/env bash
# Starts the Windows GUI kinestim-host.exe under Wine on this machine's X display, talking to
# kinestim-sim on a pseudo-terminal mapped to COM1, or to a real serial adapter.
#   run-gui.sh [--port /dev/ttyUSB0] [--exe PATH]     (KINESTIM_SIM: the simulator to use)
# The Wine prefix is private to this program (build/wine-prefix-ARCH) and is made once.
# Where this machine cannot run 32-bit programs, the x86_64 build of the same sources runs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
port=""
exe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port="${2:?--port needs a device path}"; shift 2 ;;
    --exe) exe="${2:?--exe needs a path}"; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "run-gui.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
done

if [ -z "${DISPLAY:-}" ]; then
  echo "run-gui.sh: no X display (DISPLAY is not set); run it from a desktop session" >&2
  exit 1
fi

if [ -z "$exe" ]; then
  if "$here/wine-run.sh" --loader win32 >/dev/null 2>&1; then
    exe="$root/build/mingw-i686/bin/kinestim-host.exe"
  else
    echo "run-gui.sh: 32-bit Windows programs cannot run here; using the x86_64 build" >&2
    cmake --preset mingw-x86_64 >/dev/null
    cmake --build --preset mingw-x86_64 --target kinestim-host -j 2
    exe="$root/build/mingw-x86_64/bin/kinestim-host.exe"
  fi
fi
[ -f "$exe" ] || { echo "run-gui.sh: $exe not found (make mingw builds it)" >&2; exit 1; }
loader="$("$here/wine-run.sh" --loader "$exe")"
case "$(file -b "$exe")" in PE32+*) arch=win64 ;; *) arch=win32 ;; esac

export WINEPREFIX="$root/build/wine-prefix-$arch" WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run-gui.sh: making the Wine prefix $WINEPREFIX (once)"
  "$here/wine-prefix.sh" "$WINEPREFIX" "$arch"
fi

sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

if [ -z "$port" ]; then
  sim="${KINESTIM_SIM:-}"
  [ -n "$sim" ] || for c in "$root"/build/native-release/bin/kinestim-sim "$root"/build/native-debug/bin/kinestim-sim; do
    [ -x "$c" ] && { sim="$c"; break; }
  done
  [ -n "$sim" ] || { echo "run-gui.sh: kinestim-sim not built (make native)" >&2; exit 1; }
  out="$(mktemp /tmp/kinestim-sim-out.XXXXXX)"
  # The simulator reads control lines (tilt X Y, fault CODE, ...) from its standard input:
  # this terminal, while the GUI runs.
  exec 3<&0
  "$sim" --baud 9600 <&3 >"$out" &
  sim_pid=$!
  for _ in $(seq 1 100); do
    port="$(sed -n '1s/^port: //p' "$out")"
    [ -n "$port" ] && break
    sleep 0.05
  done
  rm -f "$out"
  [ -n "$port" ] || { echo "run-gui.sh: the simulator printed no port" >&2; exit 1; }
  echo "run-gui.sh: kinestim-sim serves $port; type its control lines here (tilt 10 -5, quit)"
fi

# COM1 of the prefix becomes the chosen device.
"$loader" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$port" /f >/dev/null 2>&1
wineserver -w
# A server of our own, started quietly, keeps Wine's shutdown diagnostics off the terminal.
(wineserver -p >/dev/null 2>&1 &)
echo "run-gui.sh: starting $(basename "$exe") on COM1 = $port"
set +e
"$loader" "$exe" 1
rc=$?
set -e
echo "run-gui.sh: kinestim-host.exe ended with exit code $rc"
exit "$rc"
