#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Kinestim Host need.
# Idempotent: does nothing when everything is already present. Works as root or through sudo.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "setup-debian.sh: run as root or install sudo" >&2; exit 1
  fi
fi

# What running needs (console front-end and simulator) and what building and testing need
# (librsvg2-bin: rsvg-convert renders the preview plot in its test).
RUN_PKGS=(g++ make cmake ninja-build)
TEST_PKGS=(libgtest-dev googletest mingw-w64 g++-mingw-w64-i686-posix
           wine wine32:i386 wine64 fonts-wine xvfb xauth xdotool xclip imagemagick librsvg2-bin x11-utils
           python3 clang libclang-rt-14-dev clang-tidy cppcheck file procps)

mode="${1:-all}"
case "$mode" in
  run) want=("${RUN_PKGS[@]}") ;;
  all) want=("${RUN_PKGS[@]}" "${TEST_PKGS[@]}") ;;
  *) echo "usage: setup-debian.sh [run|all]" >&2; exit 2 ;;
esac

need_i386=0
for p in "${want[@]}"; do [[ "$p" == *:i386 ]] && need_i386=1; done
if [ "$need_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  updated=0
else
  updated=1
fi

# The tests that must not run as root (serial port sharing) run under this account.
if [ "$mode" = all ] && ! id -u kinestim-test >/dev/null 2>&1; then
  $SUDO useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin kinestim-test
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ] && [ "$updated" = 1 ]; then
  exit 0
fi

echo "setup-debian.sh: installing ${missing[*]:-(i386 architecture only)}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
