#!/bin/bash
# The benchmarks in one run, with one table of figures and ratios:
# latency added by the driver, CPU per report, rate without loss, idle
# wake-ups, memory (skrib-bench, end to end against a simulated board on a
# mock bus and a private X server), and the micro-benchmarks of the
# conversion and the pointer engine. docs/performance.md explains each.
#
# usage: bash bench/run.sh [--short] [--no-build] [BUILD_DIR]
#   --short     a few seconds per benchmark, only to prove they still work
#               (the test suite runs this); figures are not meaningful
#   --no-build  use BUILD_DIR as it is (default: build, configured and built)
# Extra options for skrib-bench (longer runs on request) go in
# SKRIB_BENCH_ARGS, e.g. SKRIB_BENCH_ARGS="--memory-seconds 3600".
#
# Writes BUILD_DIR/bench/results[-short]/results.md (the table),
# details.txt (every figure measured) and logs/ (the driver's output).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
short=
build_step=1
build=$root/build
for arg in "$@"; do
  case $arg in
    --short) short=--short ;;
    --no-build) build_step= ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option $arg" >&2; exit 2 ;;
    *) build=$(cd "$arg" 2>/dev/null && pwd || echo "$arg") ;;
  esac
done

if [ -n "$build_step" ]; then
  bash "$root/tools/deps.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target skrib-bench >/dev/null
fi

out=$build/bench/results${short:+-short}
rm -rf "$out"
mkdir -p "$out/logs"
min_time=0.5
[ -n "$short" ] && min_time=0.01

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M UTC')
echo "bench: load average at start $load_start" >&2

# The micro-benchmarks: CPU time per operation.
"$build/bench/bench_conversion" --benchmark_min_time=$min_time --benchmark_format=csv >"$out/conversion.csv" 2>/dev/null
"$build/bench/bench_mouse" --benchmark_min_time=$min_time --benchmark_format=csv >"$out/mouse.csv" 2>/dev/null

# The end-to-end benchmarks.
status=0
# shellcheck disable=SC2086
"$build/bench/skrib-bench" $short ${SKRIB_BENCH_ARGS:-} \
  --driver "$build/app/SkribZIW" --direct "$build/bench/skrib-bench-direct" \
  --barewx "$build/bench/skrib-bench-barewx" \
  --table "$out/e2e.md" --details "$out/details.txt" --logs "$out/logs" >/dev/null || status=$?
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

micro_rows() { # file, description
  awk -F, -v what="$2" '$1 ~ /^"BM_/ {
      name = $1; gsub(/"/, "", name); label = $8; gsub(/"/, "", label)
      printf "| %s: %s%s | %.1f %s CPU | – | – | – | – |\n", what, name, (label != "" ? " (" label ")" : ""), $4, $5
    }' "$1"
}

{
  echo "Run of $started${short:+ (short mode: figures not meaningful)}; $(nproc) cores,"\
       "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
       "kernel $(uname -r); load average (1, 5, 15 min) $load_start at start, $load_end at end."
  echo
  [ -f "$out/e2e.md" ] && cat "$out/e2e.md"
  micro_rows "$out/conversion.csv" "Conversion, one position"
  micro_rows "$out/mouse.csv" "Pointer engine, one drag report"
} >"$out/results.md"

# A sanitizer build reports into the programs' output: any report fails the run.
if grep -l -E "ERROR: AddressSanitizer|runtime error:|WARNING: ThreadSanitizer|ERROR: LeakSanitizer" \
     "$out"/logs/*.log 2>/dev/null; then
  echo "bench: sanitizer reports in the logs above" >&2
  status=1
fi

cat "$out/results.md"
echo
echo "bench: table $out/results.md, every figure in $out/details.txt" >&2
if [ $status -ne 0 ]; then
  echo "bench: some benchmarks produced no figures (see $out/details.txt and $out/logs)" >&2
fi
exit $status
