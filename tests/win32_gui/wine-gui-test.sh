#!/usr/bin/env bash
# Runs the Win32 GUI test program under Wine on its own Xvfb display and Wine prefix, with
# COM1 mapped to a kinestim-sim pseudo-terminal whose transcript the tests read.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh"
exe="$(readlink -f "$1")"; shift
loader="$(wine_loader_for "$exe")"
work="$(mktemp -d /tmp/kinestim-gui.XXXXXX)"
trap 'stop_all; rm -rf "$work"' EXIT
make_prefix "$work/prefix" "$loader" || { echo "could not create the Wine prefix" >&2; exit 1; }
start_sim "$work"
map_com1 "$loader" "$SIM_PORT"
quiet_server "$work/wineserver.log"
export KINESTIM_SIM_TRANSCRIPT="Z:$SIM_TRANSCRIPT" KINESTIM_SIM_CONTROL="Z:$SIM_CONTROL"
set +e
timeout 800 xvfb-run -a -s "-screen 0 1024x768x24" "$loader" "$exe" "$@"
rc=$?
set -e
if [ "$rc" -ne 0 ]; then
  echo "--- simulator transcript (last 40 lines)"; tail -40 "$SIM_TRANSCRIPT" || true
fi
exit "$rc"
