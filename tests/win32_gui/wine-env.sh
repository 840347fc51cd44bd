# Shared by the Wine GUI test scripts (sourced): picks the Wine loader for a Windows program,
# makes a private prefix, finds and starts kinestim-sim and maps COM1 to its port.

# wine_loader_for EXE: prints the loader that runs this program, or fails (exit 77) when
# this machine cannot run it (a kernel without 32-bit support cannot run PE32 under Wine).
wine_loader_for() {
  local exe="$1" kind
  kind="$(file -b "$exe")"
  case "$kind" in
    PE32+*)
      for l in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
        [ -n "$l" ] && [ -x "$l" ] && { echo "$l"; return 0; }
      done
      echo "wine-env: 64-bit Wine (wine64) is not installed" >&2; return 1 ;;
    PE32*)
      if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo /usr/lib/wine/wine; return 0
      fi
      echo "wine-env: this machine cannot run 32-bit programs (no 32-bit kernel support" \
           "or wine32); run the x86_64 Windows build's tests instead" >&2
      exit 77 ;;
    *) echo "wine-env: $exe is not a Windows program ($kind)" >&2; return 1 ;;
  esac
}

# find_sim: prints the kinestim-sim to use.
find_sim() {
  if [ -n "${KINESTIM_SIM:-}" ] && [ -x "$KINESTIM_SIM" ]; then echo "$KINESTIM_SIM"; return 0; fi
  local src="${KINESTIM_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}" c
  for c in "$src"/build/native-release/bin/kinestim-sim "$src"/build/native-debug/bin/kinestim-sim \
           "$src"/build/*/bin/kinestim-sim; do
    [ -x "$c" ] && { echo "$c"; return 0; }
  done
  echo "wine-env: kinestim-sim not found; build it natively (make native) or set KINESTIM_SIM" >&2
  return 1
}

# make_prefix DIR LOADER: a fresh prefix in which Wine draws its own captions and menus.
make_prefix() {
  local dir="$1" loader="$2" src arch=win32
  [ "$loader" = /usr/lib/wine/wine ] || arch=win64
  mkdir -p "$dir"
  export WINEPREFIX="$(cd "$dir" && pwd)" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  src="${KINESTIM_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
  if [ -x "$src/scripts/wine-prefix.sh" ]; then
    "$src/scripts/wine-prefix.sh" "$dir" "$arch" >/dev/null 2>&1 || return 1
  else
    timeout 180 "$loader" wineboot -i >/dev/null 2>&1 || return 1
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
  fi
  wineserver -w
}

# quiet_server LOG: a persistent server of our own keeps its diagnostics out of the test
# output. Start it after the last `wineserver -w`.
quiet_server() {
  (wineserver -p >>"$1" 2>&1 &)
}

# start_sim WORKDIR [sim options]: starts the simulator with a transcript and a control fifo;
# sets SIM_PID, SIM_PORT, SIM_TRANSCRIPT, SIM_CONTROL.
start_sim() {
  local work="$1"; shift
  local sim; sim="$(find_sim)" || return 1
  SIM_TRANSCRIPT="$work/transcript.txt"
  SIM_CONTROL="$work/sim-control"
  mkfifo "$SIM_CONTROL"
  "$sim" --transcript "$SIM_TRANSCRIPT" "$@" <"$SIM_CONTROL" >"$work/sim-out.txt" 2>"$work/sim-err.txt" &
  SIM_PID=$!
  exec 9>"$SIM_CONTROL"   # keeps the simulator's stdin open
  local i
  for i in $(seq 1 100); do
    SIM_PORT="$(sed -n '1s/^port: //p' "$work/sim-out.txt" 2>/dev/null)"
    [ -n "$SIM_PORT" ] && return 0
    sleep 0.05
  done
  echo "wine-env: kinestim-sim printed no port line" >&2
  cat "$work/sim-err.txt" >&2
  return 1
}

# map_com1 LOADER PATH: COM1 of the prefix becomes the given device.
map_com1() {
  "$1" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$2" /f >/dev/null 2>&1
  wineserver -w
}

stop_all() {
  exec 9>&- 2>/dev/null || true
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  true
}
