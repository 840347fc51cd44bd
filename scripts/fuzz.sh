#!/usr/bin/env bash
# Builds the libFuzzer targets (CMake preset "fuzz": clang, ASan and UBSan) and runs each for
# the given number of seconds, starting from the checked-in seeds and the corpus kept in
# build/fuzz/corpus. Exits non-zero when a target finds a fault; its input is kept in
# build/fuzz/artifacts.
#   scripts/fuzz.sh SECONDS [TARGET...]     targets: receive compile samples memory_view parse_number
#   FUZZ_RUNS=N     stop each target after N executions instead (with SECONDS as the upper bound)
#   FUZZ_JOBS=2     run two targets at a time (default 1; the machine's cores are shared)
set -uo pipefail

cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${1:-}
if ! [[ "$SECONDS_EACH" =~ ^[0-9]+$ ]] || [ "$SECONDS_EACH" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
shift
ALL_TARGETS=(receive compile samples memory_view parse_number)
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL_TARGETS[@]}")
for t in "${TARGETS[@]}"; do
  if [[ ! " ${ALL_TARGETS[*]} " == *" $t "* ]]; then
    echo "fuzz.sh: unknown target '$t' (targets: ${ALL_TARGETS[*]})" >&2
    exit 2
  fi
done
JOBS=${FUZZ_JOBS:-1}
RUNS=${FUZZ_RUNS:--1}

BUILD=build/fuzz
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz.sh: clang++ is not installed (scripts/setup-debian.sh all installs it)" >&2
  exit 1
fi
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake --preset fuzz >/dev/null || { echo "fuzz.sh: configuring the fuzz build failed" >&2; exit 1; }
fi
build_targets=()
for t in "${TARGETS[@]}"; do build_targets+=("fuzz_$t"); done
if ! cmake --build "$BUILD" --target "${build_targets[@]}" -j 2 >"$BUILD/fuzz-build.log" 2>&1; then
  tail -n 40 "$BUILD/fuzz-build.log" >&2
  echo "fuzz.sh: building the fuzz targets failed" >&2
  exit 1
fi

mkdir -p "$BUILD/corpus" "$BUILD/artifacts" "$BUILD/logs"
# A smaller quarantine and shorter allocation stacks make the targets much faster; leaks are
# still reported.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=4:malloc_context_size=4}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

run_target() {
  local t=$1
  local corpus="$BUILD/corpus/$t" log="$BUILD/logs/$t.log"
  mkdir -p "$corpus"
  "$BUILD/bin/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -runs="$RUNS" -timeout=10 \
    -rss_limit_mb=2048 -max_len=512 -print_final_stats=1 \
    -artifact_prefix="$BUILD/artifacts/$t-" "$corpus" "$ROOT/tests/fuzz/corpus/$t" >"$log" 2>&1
  local status=$?
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)
  if [ $status -eq 0 ]; then
    printf 'fuzz %-13s %12s executions, no finding\n' "$t" "${runs:-?}"
  else
    printf 'fuzz %-13s FAILED (status %d) after %s executions; see %s\n' "$t" $status "${runs:-?}" "$log"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -n 5
  fi
  return $status
}

failed=0
pids=()
for t in "${TARGETS[@]}"; do
  if [ "$JOBS" -gt 1 ]; then
    run_target "$t" & pids+=($!)
    if [ ${#pids[@]} -ge "$JOBS" ]; then
      wait "${pids[0]}" || failed=1
      pids=("${pids[@]:1}")
    fi
  else
    run_target "$t" || failed=1
  fi
done
for p in "${pids[@]}"; do wait "$p" || failed=1; done
exit $failed
