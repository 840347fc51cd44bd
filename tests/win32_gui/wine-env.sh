# Shared by the Wine test scripts (sourced): the Wine loader, a private prefix, kinestim-sim on COM1.
src="${KINESTIM_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"

# wine_loader_for EXE: the loader that runs this program; exit 77 when this machine cannot.
wine_loader_for() {
  case "$(file -b "$1")" in
    PE32+*)
      for l in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do [ -x "$l" ] && { echo "$l"; return 0; }; done
      echo "wine-env: 64-bit Wine (wine64) is not installed" >&2; return 1 ;;
    PE32*)
      /usr/lib/wine/wine --version >/dev/null 2>&1 && { echo /usr/lib/wine/wine; return 0; }
      echo "wine-env: no 32-bit kernel support or wine32; run the x86_64 Windows build's tests" >&2
      exit 77 ;;
    *) echo "wine-env: $1 is not a Windows program" >&2; return 1 ;;
  esac
}

# wine_prefix WORK EXE: sets LOADER for the program and makes WINEPREFIX in WORK/prefix.
wine_prefix() {
  LOADER="$(wine_loader_for "$2")" || exit $?
  local arch=win64
  [ "$LOADER" = /usr/lib/wine/wine ] && arch=win32
  mkdir -p "$1/prefix"
  export WINEPREFIX="$(cd "$1/prefix" && pwd)" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$src/scripts/wine-prefix.sh" "$WINEPREFIX" "$arch" >/dev/null 2>&1 ||
    { echo "wine-env: could not create the Wine prefix" >&2; exit 1; }
  wineserver -w
}

quiet_server() { (wineserver -p >>"$1/wineserver.log" 2>&1 &); }  # our own server, diagnostics to a file

# wine_sim WORK: starts kinestim-sim with a transcript (SIM_TRANSCRIPT) and a control pipe
# (SIM_CONTROL), and maps COM1 to its port.
wine_sim() {
  local sim="${KINESTIM_SIM:-}" c port="" i
  for c in "$src"/build/native-{release,debug}/bin/kinestim-sim "$src"/build/*/bin/kinestim-sim; do
    [ -x "$sim" ] || sim="$c"
  done
  [ -x "$sim" ] || { echo "wine-env: kinestim-sim not found; build it natively or set KINESTIM_SIM" >&2; exit 1; }
  SIM_TRANSCRIPT="$1/transcript.txt" SIM_CONTROL="$1/sim-control"
  mkfifo "$SIM_CONTROL"
  # COM1 names the link, which follows the port when the simulator makes a new one (hangup).
  "$sim" --transcript "$SIM_TRANSCRIPT" --link "$1/com1" <"$SIM_CONTROL" >"$1/sim-out.txt" 2>"$1/sim-err.txt" &
  SIM_PID=$!
  exec 9>"$1/sim-control"  # keeps the simulator's stdin open
  for i in $(seq 1 100); do port="$(sed -n '1s/^port: //p' "$1/sim-out.txt")" && [ -n "$port" ] && break; sleep 0.05; done
  [ -n "$port" ] || { echo "wine-env: kinestim-sim printed no port line" >&2; cat "$1/sim-err.txt" >&2; exit 1; }
  "$LOADER" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$1/com1" /f >/dev/null 2>&1
  wineserver -w
  quiet_server "$1"
}

stop_all() {
  exec 9>&- 2>/dev/null || true
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  true
}
