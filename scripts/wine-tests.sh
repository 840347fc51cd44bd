#!/usr/bin/env bash
# Runs a Windows build's tests under Wine with a fresh private prefix for this run.
#   wine-tests.sh [BUILD_DIR [CTEST_ARGS...]]
# BUILD_DIR defaults to build/mingw-i686; an x86_64 build runs on 64-bit Wine.
set -euo pipefail
build="${1:-build/mingw-i686}"
shift $(( $# > 0 ? 1 : 0 ))
here="$(cd "$(dirname "$0")" && pwd)"
arch=win32
if grep -q '^CMAKE_TOOLCHAIN_FILE:.*x86_64' "$build/CMakeCache.txt" 2>/dev/null; then
  arch=win64
fi
export WINEPREFIX="$(mktemp -d /tmp/kinestim-wine.XXXXXX)"
export WINEDEBUG=-all WINEARCH="$arch"
# A machine whose kernel cannot run 32-bit programs cannot run the i686 build's tests.
status=0
"$here/wine-run.sh" --loader "$arch" >/dev/null || status=$?
if [ "$status" -ne 0 ]; then
  rm -rf "$WINEPREFIX"
  echo "wine-tests.sh: the Wine tests of $build cannot run on this machine" >&2
  exit "$status"
fi
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
"$here/wine-prefix.sh" "$WINEPREFIX" "$arch"
ctest --test-dir "$build" --output-on-failure -j 2 "$@"
