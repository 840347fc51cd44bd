#!/usr/bin/env bash
# Creates a fresh Wine prefix at PREFIX, quietly, for the Windows build's tests and GUI, or
# copies one (--clone).
# ARCH is win32 (default, for the i686 build) or win64. Exit status 77: this machine cannot
# run programs of that architecture under Wine.
set -euo pipefail
# --clone FROM TO: TO becomes a private copy of the made prefix FROM in a second, not the
# half minute a new one takes; the large system folders, which Wine only reads, are hard links.
if [ "${1:-}" = --clone ]; then
  from="${2:?usage: wine-prefix.sh --clone FROM TO}" to="${3:?usage: wine-prefix.sh --clone FROM TO}" big=(--exclude=./wineserver)
  for d in system32 syswow64 winsxs; do [ -d "$from/drive_c/windows/$d" ] && big+=("--exclude=./drive_c/windows/$d"); done
  mkdir -p "$to" && tar -C "$from" "${big[@]}" -cf - . | tar -C "$to" -xf -
  for d in system32 syswow64 winsxs; do [ ! -d "$from/drive_c/windows/$d" ] || cp -al "$from/drive_c/windows/$d" "$to/drive_c/windows/"; done
  exit 0
fi
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
