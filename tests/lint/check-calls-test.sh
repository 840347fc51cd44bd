#!/usr/bin/env bash
# The call check's own test: a fixture with one upward call (link -> app) and one call through
# the window seam; the check must report the first and only it.
set -uo pipefail
cd "$(dirname "$0")/../.."
fixture=tests/lint/upward_call
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
pairs=()
for source in src/link/reader.cpp src/app/watch.cpp src/frontends/console/window.cpp; do
  object="$out/$(basename "$source").o"
  c++ -c "$fixture/$source" -o "$object" || exit 1
  pairs+=("$source=$object")
done
report=$(python3 scripts/check-calls.py --pair "${pairs[@]}")
status=$?
want="src/link/reader.cpp: link calls showLinkLost(char const*) in src/app/watch.cpp from the higher layer app
check-calls: 3 objects, 1 findings"
if [ $status -ne 1 ] || [ "$report" != "$want" ]; then
  printf 'check-calls fixture: status %s, report:\n%s\nwanted status 1 and:\n%s\n' "$status" "$report" "$want"
  exit 1
fi
echo "check-calls fixture: the upward call is reported, the seam call is not"
