#!/usr/bin/env bash
# Runs the Win32 GUI test program under Wine and Xvfb with COM1 mapped to kinestim-sim.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
work="$(mktemp -d /tmp/kinestim-gui.XXXXXX)"
trap 'stop_all; rm -rf "$work"' EXIT
wine_prefix "$work" "$1"
wine_sim "$work"
export KINESTIM_SIM_TRANSCRIPT="Z:$SIM_TRANSCRIPT"
timeout 800 xvfb-run -a -s "-screen 0 1024x768x24" "$LOADER" "$(readlink -f "$1")" "${@:2}" ||
  { rc=$?; echo "--- simulator transcript (last 40 lines)"; tail -40 "$SIM_TRANSCRIPT"; exit "$rc"; }
