#!/usr/bin/env bash
# Runs a Windows test program that needs no display and no port under Wine, in a private
# prefix, with the loader that matches the program's architecture.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh"
exe="$(readlink -f "$1")"; shift
loader="$(wine_loader_for "$exe")"
work="$(mktemp -d /tmp/kinestim-wine.XXXXXX)"
trap 'stop_all; rm -rf "$work"' EXIT
make_prefix "$work/prefix" "$loader" || { echo "could not create the Wine prefix" >&2; exit 1; }
quiet_server "$work/wineserver.log"
set +e
timeout 240 "$loader" "$exe" "$@"
rc=$?
set -e
exit "$rc"
