#!/usr/bin/env bash
# Creates a fresh Wine prefix at PREFIX, quietly, for the Windows build's tests and GUI.
# ARCH is win32 (default, for the i686 build) or win64. Exit status 77: this machine cannot
# run programs of that architecture under Wine.
set -euo pipefail
prefix="${1:?usage: wine-prefix.sh PREFIX [win32|win64]}"
arch="${2:-${WINEARCH:-win32}}"
here="$(cd "$(dirname "$0")" && pwd)"
loader="$("$here/wine-run.sh" --loader "$arch")" || exit $?
mkdir -p "$prefix"
export WINEPREFIX="$(cd "$prefix" && pwd)" WINEARCH="$arch" WINEDEBUG=-all
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
if ! timeout 300 "$loader" wineboot -i >"$WINEPREFIX/.wineboot.log" 2>&1; then
  echo "wine-prefix.sh: wineboot failed for $WINEPREFIX" >&2
  cat "$WINEPREFIX/.wineboot.log" >&2
  exit 1
fi
# Undecorated windows: the GUI tests find and measure the windows themselves.
"$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w
