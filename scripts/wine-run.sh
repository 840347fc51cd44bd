#!/usr/bin/env bash
# Runs a Windows program under Wine and passes its exit status back (the cross builds' test
# emulator). Uses $WINEPREFIX when set, else a private prefix made for this run only.
#   wine-run.sh PROGRAM.exe [ARGS...]
#   wine-run.sh --loader win32|win64|PROGRAM.exe   prints the Wine loader that runs it
# Exit status 77: this machine cannot run programs of that architecture (32-bit programs
# need a kernel with 32-bit support and wine32).
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

# The architecture of a Windows program: win64 for PE32+, else win32.
arch_of() {
  case "$(file -b "$1" 2>/dev/null)" in
    PE32+*) echo win64 ;;
    *) echo win32 ;;
  esac
}

loader_for() {
  local arch="$1" l
  if [ "$arch" = win64 ]; then
    for l in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
      [ -n "$l" ] && [ -x "$l" ] && { echo "$l"; return 0; }
    done
    echo "wine-run.sh: 64-bit Wine (wine64) is not installed" >&2
    return 1
  fi
  for l in /usr/lib/wine/wine "$(command -v wine 2>/dev/null)"; do
    if [ -n "$l" ] && [ -x "$l" ] && "$l" --version >/dev/null 2>&1; then
      echo "$l"
      return 0
    fi
  done
  echo "wine-run.sh: this machine cannot run 32-bit Windows programs (its kernel lacks" \
       "32-bit support, or wine32:i386 is missing); the x86_64 Windows build's tests can" \
       "run here instead" >&2
  return 77
}

if [ "${1:-}" = --loader ]; then
  what="${2:?usage: wine-run.sh --loader win32|win64|PROGRAM.exe}"
  case "$what" in win32|win64) ;; *) what="$(arch_of "$what")" ;; esac
  loader_for "$what"
  exit $?
fi

program="${1:?usage: wine-run.sh PROGRAM.exe [ARGS...]}"
arch="$(arch_of "$program")"
loader="$(loader_for "$arch")" || exit $?
export WINEDEBUG=-all
if [ -z "${WINEPREFIX:-}" ]; then
  own="$(mktemp -d /tmp/kinestim-wine.XXXXXX)"
  export WINEPREFIX="$own"
  trap 'wineserver -k >/dev/null 2>&1; rm -rf "$own"' EXIT
  "$here/wine-prefix.sh" "$own" "$arch" || exit $?
fi
"$loader" "$@"
exit $?
