#!/usr/bin/env bash
# Runs the benchmarks (kinestim-bench) against the native release build and rewrites
# docs/performance.md with each figure next to its limit. Timings are reported, never judged:
# the script fails only when a benchmark could not run at all.
#   KINESTIM_BENCH_BUILD    build folder (default build/native-release)
#   KINESTIM_BENCH_SECONDS  length of the streaming and idle runs (default 60)
#   KINESTIM_BENCH_FRAMES   frames per latency run (default 1000)
#   KINESTIM_BENCH_OUTPUT   the report to write (default docs/performance.md)
#   KINESTIM_BENCH_GUI_SECONDS  length of the Windows program's stream under Wine (default 30;
#                           0 leaves the Windows program out)
set -uo pipefail
cd "$(dirname "$0")/.."

BUILD="${KINESTIM_BENCH_BUILD:-build/native-release}"
SECONDS_RUN="${KINESTIM_BENCH_SECONDS:-60}"
FRAMES="${KINESTIM_BENCH_FRAMES:-1000}"
OUTPUT="${KINESTIM_BENCH_OUTPUT:-docs/performance.md}"
NOTES="bench/performance-notes.md"
# How this run was started, for the report.
COMMAND="bash scripts/bench.sh"
[ -n "${MAKELEVEL:-}" ] && COMMAND="make bench"
for var in KINESTIM_BENCH_BUILD KINESTIM_BENCH_SECONDS KINESTIM_BENCH_FRAMES KINESTIM_BENCH_OUTPUT; do
  [ -n "${!var:-}" ] && COMMAND="$var=${!var} $COMMAND"
done

if [ ! -f "$BUILD/build.ninja" ] && [ ! -f "$BUILD/Makefile" ]; then
  if [ "$BUILD" = build/native-release ]; then
    cmake --preset native-release >/dev/null || exit 1
  else
    echo "bench.sh: $BUILD is not a configured build folder" >&2
    exit 1
  fi
fi
cmake --build "$BUILD" --target kinestim-bench -j "$(nproc)" >/dev/null || {
  echo "bench.sh: building kinestim-bench in $BUILD failed" >&2
  exit 1
}
BENCH="$BUILD/bin/kinestim-bench"

declare -A R
WORK="$(mktemp -d /tmp/kinestim-bench-XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }
LOAD_START="$(loadavg)"
failed=()

# Runs one benchmark, keeps its key=value lines in R and the load average before it.
run() {
  local name="$1"; shift
  R[load_$name]="$(loadavg)"
  echo "bench.sh: $name ($*) ..." >&2
  local out
  if ! out="$("$BENCH" "$@" 2> >(sed 's/^/  /' >&2))"; then failed+=("$name"); fi
  while IFS='=' read -r key value; do
    [ -n "$key" ] && R[$key]="$value"
  done <<<"$out"
  echo "$out" | sed 's/^/  /' >&2
}

run upload upload
run latency latency "$FRAMES"
run stream stream "$SECONDS_RUN"
run idle idle "$SECONDS_RUN"
run toolchain toolchain "$WORK"

# The Windows program under Wine: the i686 build where this machine runs 32-bit programs,
# else the x86_64 build.
GUI_SECONDS="${KINESTIM_BENCH_GUI_SECONDS:-30}"
if [ "$GUI_SECONDS" != 0 ]; then
  preset=mingw-i686
  bash scripts/wine-run.sh --loader win32 >/dev/null 2>&1 || preset=mingw-x86_64
  R[load_gui]="$(loadavg)"
  echo "bench.sh: gui ($preset, $GUI_SECONDS s) ..." >&2
  if { [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null; } &&
     cmake --build --preset "$preset" --target kinestim-host -j "$(nproc)" >/dev/null &&
     out="$(python3 scripts/bench-gui.py "build/$preset/bin/kinestim-host.exe" "$BUILD/bin/kinestim-sim" "$GUI_SECONDS" 12)"; then
    while IFS='=' read -r key value; do [ -n "$key" ] && R[$key]="$value"; done <<<"$out"
    echo "$out" | sed 's/^/  /' >&2
    R[gui_build]="$preset"
  else
    failed+=(gui)
  fi
fi
LOAD_END="$(loadavg)"

v() { echo "${R[$1]:-n/a}"; }
# ratio A B [digits]: A / B, or n/a.
ratio() {
  awk -v a="$1" -v b="$2" -v d="${3:-3}" 'BEGIN { if (a == "n/a" || b == "n/a" || b + 0 == 0) print "n/a"; else printf "%.*f", d, a / b }'
}
# met VALUE OP LIMIT: yes when VALUE OP LIMIT holds (OP is le or ge).
met() {
  awk -v a="$1" -v op="$2" -v b="$3" 'BEGIN { if (a == "n/a" || a + 0 < 0) { print "n/a"; exit }
    ok = (op == "le") ? (a + 0 <= b + 0) : (a + 0 >= b + 0); print ok ? "yes" : "no" }'
}

TICK=25
CPU_MODEL="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
COMMIT="$(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
if ! git diff --quiet HEAD -- src sim tools bench 2>/dev/null; then COMMIT="$COMMIT (with local changes)"; fi
BUILD_TYPE="$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD/CMakeCache.txt" 2>/dev/null)"

{
  echo "# Kinestim Host performance"
  echo
  echo "Written by \`scripts/bench.sh\` (run with \`$COMMAND\`) on $(date -u '+%Y-%m-%d %H:%M UTC'),"
  echo "commit $COMMIT, ${BUILD_TYPE:-unknown} build in \`$BUILD\`. Benchmarks report; they never fail"
  echo "on a timing. Every link figure is kinestim-console against \`kinestim-sim --baud 9600\`, each"
  echo "its own process on the simulator's pseudo-terminal."
  echo
  echo "## Machine"
  echo
  echo "| | |"
  echo "|---|---|"
  echo "| CPU | ${CPU_MODEL:-unknown} |"
  echo "| nproc | $(nproc) |"
  echo "| Kernel | $(uname -sr) |"
  echo "| Load average (1, 5, 15 min) at start | $LOAD_START |"
  echo "| Load average at end | $LOAD_END |"
  echo
  echo "The machine is shared: other builds were running beside the benchmarks when the load"
  echo "average above is high, and the link figures then include their scheduling delays."
  echo
  echo "## Figures"
  echo
  echo "| # | Figure | Measured | Limit / goal | Ratio | Goal met | Load before |"
  echo "|---|---|---|---|---|---|---|"
  up_ratio="$(v upload_ratio)"
  echo "| 1 | Upload of a full 2048-byte image, 128 chunks, Script Manager \`upload\` (Enter on the file name to \"Upload Successful\") | $(v upload_ms) ms | wire limit $(v upload_limit_ms) ms; goal ratio <= 1.05 | $up_ratio | $(met "$up_ratio" le 1.05) | $(v load_upload) |"
  echo "| 1a | of which the host: last byte of an acknowledgement to the next chunk on the line, summed (median, max per chunk) | $(v upload_host_ms) ms ($(v upload_host_turnaround_p50_ms), $(v upload_host_turnaround_max_ms) ms) | | $(ratio "$(v upload_host_ms)" "$(v upload_limit_ms)") | | |"
  echo "| 1b | of which the simulator: chunk cycles beyond 31 byte times, summed | $(v upload_simulator_ms) ms | | $(ratio "$(v upload_simulator_ms)" "$(v upload_limit_ms)") | | |"
  p99="$(v latency_p99_ms)"
  echo "| 2 | Dispatch latency, mdgTilt from the device's tilt loop (13-byte frames every 25 ms), last byte on the line to the Received line printed: p50 / p99 / max over $(v latency_frames_shown) frames | $(v latency_p50_ms) / $p99 / $(v latency_max_ms) ms | tick $TICK ms; goal p99 <= 26 ms | $(ratio "$p99" "$TICK") | $(met "$p99" le 26) | $(v load_latency) |"
  p99s="$(v latency_short_p99_ms)"
  echo "| 2a | Dispatch latency, 6-byte frames at irregular moments (every phase of the tick): p50 / p99 / max over $(v latency_short_frames_shown) frames | $(v latency_short_p50_ms) / $p99s / $(v latency_short_max_ms) ms | tick $TICK ms; goal p99 <= 26 ms | $(ratio "$p99s" "$TICK") | $(met "$p99s" le 26) | |"
  hr="$(v stream_handled_ratio)"
  echo "| 3 | Streaming, back-to-back mdgTilt at line rate ($(v stream_frames_per_second) frames/s for $(v stream_seconds) s), data log and traffic log open: frames handled / sent | $(v stream_frames_handled) / $(v stream_frames_sent) (traffic log: $(v stream_frames_traffic_logged)) | goal 1.000 | $hr | $(met "$hr" ge 1.0) | $(v load_stream) |"
  sc="$(v stream_cpu_percent)"
  echo "| 3a | Streaming: host CPU (utime + stime) | $sc % of one core (scheduler: $(v stream_cpu_exact_percent) %) | goal <= 5 % | $(ratio "$sc" 5) | $(met "$sc" le 5) | |"
  echo "| 3b | Streaming: host resident memory at the end (peak) | $(v stream_rss_kb) kB ($(v stream_peak_rss_kb) kB) | | | | |"
  ic="$(v idle_cpu_percent)"
  echo "| 4 | Idle: host CPU (utime + stime) over $(v idle_seconds) s with the line idle | $ic % of one core (scheduler: $(v idle_cpu_exact_percent) %) | goal <= 0.5 % | $(ratio "$ic" 0.5) | $(met "$ic" le 0.5) | $(v load_idle) |"
  echo "| 5 | Compile a 10 MB source (in-process; through kinestim-script) | $(v compile_10mb_mb_per_s) MB/s, $(v compile_10mb_ms) ms ($(v compile_10mb_tool_ms) ms) | | | | $(v load_toolchain) |"
  echo "| 5a | Compile a 1 MB source (in-process; through kinestim-script) | $(v compile_1mb_mb_per_s) MB/s, $(v compile_1mb_ms) ms ($(v compile_1mb_tool_ms) ms) | | | | |"
  cr="$(v compile_10mb_to_1mb_ratio)"
  echo "| 5b | Compile time, 10 MB / 1 MB (per byte) | $cr ($(v compile_per_byte_ratio)) | linear: goal <= 11 | $cr | $(met "$cr" le 11) | |"
  echo "| 5c | Generate from a $(v samples_rows)-row sample file ($(v samples_bytes) bytes; in-process; through kinestim-script) | $(v samples_mb_per_s) MB/s, $(v samples_ms) ms ($(v samples_tool_ms) ms) | | | | |"
  echo "| 5d | List a full 2048-byte image, $(v list_lines) lines (in-process; through kinestim-script) | $(v list_mb_per_s) MB/s, $(v list_ms) ms ($(v list_tool_ms) ms) | | | | |"
  pr="$(v preview_ratio)"
  echo "| 5e | Preview a full 2048-byte looping image for $(v preview_steps) steps, a current change every step (in-process) | $(v preview_steps_per_s) steps/s, $(v preview_ms) ms | goal $(v preview_limit_ms) ms | $pr | $(met "$pr" le 1) | |"
  gh="$(ratio "$(v gui_handled_per_s)" "$(v gui_line_per_s)")"
  echo "| 6 | Windows program (\`$(v gui_build)\` build under Wine): back-to-back mdgTilt at line rate for $(v gui_seconds) s, traffic log open: messages handled a second while the stream runs, against the line rate (console: row 3) | $(v gui_handled_per_s) / $(v gui_line_per_s) a second ($(v gui_frames_handled_in_stream) of $(v gui_frames_sent) frames by the stream's end) | goal 1.000 | $gh | $(met "$gh" ge 1.0) | $(v load_gui) |"
  echo "| 6a | Windows program: the last frame on the line to its traffic log line | $(v gui_drain_ms) ms | goal <= 1000 ms | | $(met "$(v gui_drain_ms)" le 1000) | |"
  echo "| 6b | Windows program: host CPU (utime + stime of the program's process; Wine's server and X not counted) | $(v gui_cpu_percent) % of one core (console: row 3a) | | | | |"
  gl="$(v gui_latency_max_ms)"
  echo "| 6c | Windows program: Ctrl+D (Select Mode Direct) pressed during the stream, key event to the frame's last byte read by the device: median / worst of $(v gui_presses) presses ($(v gui_presses_lost) never sent) | $(v gui_latency_p50_ms) / $gl ms | goal <= 500 ms | $(ratio "$gl" 500) | $(met "$gl" le 500) | |"
  echo
  echo "MB is 1,000,000 bytes. In-process times are CPU times of the program's own script code,"
  echo "the best of seven runs, each from cold caches; the kinestim-script times in parentheses are"
  echo "wall-clock times (best of seven) and include process start-up and file input and output."
  echo "\"scheduler\" CPU figures are the run time in /proc/PID/schedstat, which is exact where utime"
  echo "and stime are sampled at the clock tick."
  if [ "${#failed[@]}" -gt 0 ]; then
    echo
    echo "**Benchmarks that did not complete: ${failed[*]}** (their figures read n/a or are partial)."
  fi
  echo
  if [ -f "$NOTES" ]; then cat "$NOTES"; fi
} >"$OUTPUT.tmp" && mv "$OUTPUT.tmp" "$OUTPUT"

echo "bench.sh: wrote $OUTPUT" >&2
if [ "${#failed[@]}" -gt 0 ]; then
  echo "bench.sh: these benchmarks did not complete: ${failed[*]}" >&2
  exit 1
fi
exit 0
