#!/usr/bin/env bash
# Static analysis of the portable code (src/ without the Win32 window and serial backends):
# the include and call layering (scripts/check-layers.py, scripts/check-calls.py), clang-tidy with the checked-in .clang-tidy
# and cppcheck, both over the compile database of the native-release build. Exits non-zero on
# any finding.
#   scripts/lint.sh            everything
#   LINT_JOBS=N                clang-tidy processes at a time (default 2)
#   LINT_BUILD=DIR             another configured build folder to take the database from
set -uo pipefail

cd "$(dirname "$0")/.."
DB=${LINT_BUILD:-build/native-release}
JOBS=${LINT_JOBS:-2}
OUT=build/lint
mkdir -p "$OUT"

# Every include and every call points down the layers and none closes a circle; the call
# check's own fixture must be reported.
layers_status=0
python3 scripts/check-layers.py || layers_status=1
python3 scripts/check-calls.py "$DB" || layers_status=1
bash tests/lint/check-calls-test.sh || layers_status=1

TIDY=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$TIDY" ] || ! command -v cppcheck >/dev/null 2>&1; then
  echo "lint.sh: clang-tidy and cppcheck are needed (scripts/setup-debian.sh all installs them)" >&2
  exit 1
fi

mapfile -t FILES < <(find src -name '*.cpp' ! -path 'src/frontends/win32/*' ! -name '*_win32.cpp' | sort)

# The database must know every file; configure again when sources were added since.
in_database() {
  [ -f "$DB/compile_commands.json" ] || return 1
  local f
  for f in "${FILES[@]}"; do
    grep -q "\"file\": \"$(pwd)/$f\"" "$DB/compile_commands.json" || return 1
  done
}
if ! in_database; then
  if [ "$DB" = build/native-release ]; then configure=(cmake --preset native-release); else configure=(cmake -S . -B "$DB"); fi
  "${configure[@]}" >"$OUT/configure.log" 2>&1 || {
    cat "$OUT/configure.log" >&2
    echo "lint.sh: configuring $DB failed" >&2
    exit 1
  }
  if ! in_database; then
    echo "lint.sh: $DB/compile_commands.json lacks some of: ${FILES[*]}" >&2
    exit 1
  fi
fi

status=$layers_status

# clang-tidy, a few files per process, two processes at a time.
printf '%s\n' "${FILES[@]}" | xargs -P "$JOBS" -n 4 "$TIDY" -p "$DB" --quiet >"$OUT/clang-tidy.txt" 2>"$OUT/clang-tidy.err"
tidy_findings=$(grep -cE '(warning|error): ' "$OUT/clang-tidy.txt" || true)
if [ "$tidy_findings" -gt 0 ]; then
  grep -E -A3 '(warning|error): ' "$OUT/clang-tidy.txt"
  status=1
fi
echo "clang-tidy: ${#FILES[@]} files, $tidy_findings findings"

# cppcheck. Suppressed, and why:
#   useStlAlgorithm: the code is plain procedural C++ by design; a loop over four electrodes
#     reads better than an algorithm call.
#   missingIncludeSystem: the standard headers are not analysed, only the program's own code.
cppcheck --project="$DB/compile_commands.json" --file-filter='src/*' --std=c++20 \
  --enable=warning,style,performance,portability --inline-suppr -j "$JOBS" -q \
  --suppress=useStlAlgorithm --suppress=missingIncludeSystem \
  --error-exitcode=1 --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  >"$OUT/cppcheck.out" 2>"$OUT/cppcheck.txt"
cpp_status=$?
cpp_findings=$(grep -c ': .*\[[A-Za-z0-9_]*\]$' "$OUT/cppcheck.txt" || true)
if [ $cpp_status -ne 0 ] || [ "$cpp_findings" -gt 0 ]; then
  cat "$OUT/cppcheck.txt"
  status=1
fi
echo "cppcheck: $cpp_findings findings"
exit $status
