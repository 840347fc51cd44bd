#!/usr/bin/env bash
# Creates a fresh Wine prefix at PREFIX, quietly, for the Windows build's tests and GUI.
# ARCH is win32 (default, for the i686 build) or win64. Exit status 77: this machine cannot
# run programs of that architecture under Wine.
#   wine-prefix.sh PREFIX [ARCH]
#   wine-prefix.sh --clone FROM TO   TO becomes a private copy of the prefix FROM in a second
#                                    or two, not the half minute a new one takes
set -euo pipefail
if [ "${1:-}" = --clone ]; then
  from="${2:?usage: wine-prefix.sh --clone FROM TO}" to="${3:?usage: wine-prefix.sh --clone FROM TO}"
  # The system folders (over a gigabyte), which Wine only reads, become hard links; the rest,
  # registry included, is copied. The running server's lock file stays behind.
  skip=(--exclude=./wineserver) linked=()
  for d in system32 syswow64 winsxs; do
    if [ -d "$from/drive_c/windows/$d" ]; then skip+=("--exclude=./drive_c/windows/$d"); linked+=("$from/drive_c/windows/$d"); fi
  done
  mkdir -p "$to" && tar -C "$from" "${skip[@]}" -cf - . | tar -C "$to" -xf -
  [ ${#linked[@]} -eq 0 ] || cp -al "${linked[@]}" "$to/drive_c/windows/"
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
# Wine's own fonts (fonts-wine), Marlett among them, in the prefix's font folder, where every
# Wine finds them: without Marlett the caption buttons and scroll arrows draw as letters.
for f in /usr/share/wine/fonts/*.ttf; do [ -e "$f" ] && cp -n "$f" "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null; done
true
