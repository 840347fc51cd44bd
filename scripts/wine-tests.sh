#!/usr/bin/env bash
# Runs the Windows build's tests under Wine with a fresh private prefix for this run.
set -euo pipefail
build="${1:-build/mingw-i686}"
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="$(mktemp -d /tmp/kinestim-wine.XXXXXX)"
export WINEDEBUG=-all WINEARCH=win32
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
"$here/wine-prefix.sh" "$WINEPREFIX"
ctest --test-dir "$build" --output-on-failure -j 2
