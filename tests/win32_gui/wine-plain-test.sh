#!/usr/bin/env bash
# Runs a Windows test program that needs no display and no port under Wine in a private prefix.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
work="$(mktemp -d /tmp/kinestim-wine.XXXXXX)"
trap 'stop_all; rm -rf "$work"' EXIT
wine_prefix "$work" "$1"
quiet_server "$work"
timeout 240 "$LOADER" "$(readlink -f "$1")" "${@:2}"
