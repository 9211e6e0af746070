#!/usr/bin/env bash
# Builds the benchmarks and runs them, on a fresh Debian machine too.
#
#   bash scripts/bench.sh                   5 repetitions of everything, medians
#   bash scripts/bench.sh --quick           3 short repetitions, for a first look
#   bash scripts/bench.sh --filter REGEX    only the benchmarks whose names match
#
# Builds in build-bench/ (RelWithDebInfo, the default build type, and
# QEL_BUILD_BENCHMARKS=ON), writes each
# binary's JSON to build-bench/results/ and prints a table of medians with
# each figure as a ratio to the baseline of the same run, then the targets,
# then Python's figures beside C++'s (bench/python_bench.py).
# Exits non-zero when a benchmark's own check of what it moved fails (a
# missed target is reported, not an error). Missing tools are installed with
# apt-get (run as root there).
set -euo pipefail

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
}

repetitions=5
min_time=""
filter=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) repetitions=3; min_time=0.1 ;;
    --filter)
      if [ $# -lt 2 ]; then
        echo "bench.sh: --filter needs a regular expression" >&2
        exit 2
      fi
      filter="$2"
      shift
      ;;
    -h|--help) usage; exit 0 ;;
    *) echo "bench.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build_dir="$root/build-bench"
results="$build_dir/results"

install_dependencies
# Qt 6 and Coin3D run beside the library in the same binaries (their rows
# are left out where they are missing and cannot be installed).
install_packages qt6-base-dev || echo "bench.sh: Qt 6 could not be installed; its rows are left out" >&2
install_packages libcoin-dev || echo "bench.sh: Coin3D could not be installed; its rows are left out" >&2
# Any python3 on the PATH will do for the summary.
if ! command -v python3 >/dev/null 2>&1; then
  install_packages python3
fi

echo "== Configuring $build_dir"
# Tests and examples are left out: this tree is for timing only. The build
# type is the one a user gets by default, so the figures are theirs.
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_BUILD_BENCHMARKS=ON \
  -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_EXAMPLES=OFF -DQEL_SANITIZE=OFF -DQEL_SANITIZE_THREAD=OFF
echo "== Building $build_dir"
cmake --build "$build_dir" -j "$jobs"

mkdir -p "$results"
rm -f "$results"/*.json
# Figures belong to a source state: name it, and say when the tree differs.
if git -C "$root" rev-parse --short HEAD >/dev/null 2>&1; then
  source_state="commit $(git -C "$root" rev-parse --short HEAD)"
  if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    source_state="$source_state with local changes"
  fi
  echo "== Source: $source_state"
fi
echo "== Load: $(uptime)"
args=(--benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true)
if [ -n "$min_time" ]; then
  args+=(--benchmark_min_time="$min_time")
fi
if [ -n "$filter" ]; then
  args+=(--benchmark_filter="$filter")
fi
binaries=(bench_propagation bench_nodes bench_scale bench_allocations bench_editing)
# Saving and loading is built when the IO library is (it needs nlohmann-json).
if [ -x "$build_dir/bench/bench_io" ]; then
  binaries+=(bench_io)
fi
# The heap rows first, each in a process of its own that has made and
# dropped no node before: blocks freed earlier and kept for reuse (by the
# tracker's per-thread cache or by malloc) would serve the nodes and hide
# what a node costs.
heap_rows=$("$build_dir/bench/bench_nodes" --benchmark_list_tests --benchmark_filter="${filter:-^HeapPer}" | grep '^HeapPer' || true)
heap_run=0
for row in $heap_rows; do
  heap_run=$((heap_run + 1))
  echo "== Running bench_nodes $row (a fresh process)"
  "$build_dir/bench/bench_nodes" "${args[@]}" --benchmark_filter="^${row}\$" \
    --benchmark_out="$results/heap-$heap_run.json" --benchmark_out_format=json
done
for binary in "${binaries[@]}"; do
  echo "== Running $binary"
  binary_args=("${args[@]}")
  if [ "$binary" = bench_nodes ] && [ -z "$filter" ]; then
    binary_args+=(--benchmark_filter='-^HeapPer')
  fi
  "$build_dir/bench/$binary" "${binary_args[@]}" \
    --benchmark_out="$results/$binary.json" --benchmark_out_format=json
done

echo "== Summary (CPU time per item, medians; ratio = this / baseline of the same run)"
# The fresh processes' heap rows last: where a filter ran them in
# bench_nodes as well, theirs are the figures kept.
shopt -s nullglob
python3 "$root/bench/summarize.py" "$results"/bench_*.json "$results"/heap-*.json | tee "$results/summary.md"

# Python beside C++ (timeit), when the module was built: the interpreter
# it was built for, and the C++ rows of this run.
if compgen -G "$build_dir/python/qelchart/_qelchart*.so" >/dev/null; then
  interpreter=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
  echo "== Python (bench/python_bench.py)"
  PYTHONPATH="$build_dir/python" "${interpreter:-python3}" "$root/bench/python_bench.py" "$results" |
    tee "$results/python.md"
fi
