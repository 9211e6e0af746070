#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, ASan, UBSan) in build-fuzz/ and
# runs each on a copy of its seed corpus for a while: fuzz_operations over
# the library's operations (fuzz/corpus/), then fuzz_load over IO::Load
# (fuzz/io-corpus/, with the tokens of fuzz/io.dict).
#
#   bash scripts/fuzz.sh [seconds]                 each fuzzer that long (default 60)
#   bash scripts/fuzz.sh --only load [seconds]     one of them: operations or load
#
# Missing tools are installed with apt-get (run as root). Exits non-zero when
# a fuzzer finds a crash, a divergence from the model or a load that leaves
# something behind; the input that caused it is left in
# build-fuzz/fuzz-artifacts/ and replays with
#   build-fuzz/fuzz/fuzz_operations <that file>   (or fuzz_load)
set -euo pipefail

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
}

targets=(operations load)
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  --only)
    case "${2:-}" in
      operations|load) targets=("$2") ;;
      *) echo "fuzz.sh: --only takes operations or load, not '${2:-}'" >&2; exit 2 ;;
    esac
    shift 2
    ;;
esac
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "fuzz.sh: seconds must be a positive whole number, not '$seconds'" >&2
  usage >&2
  exit 2
fi
if [ $# -gt 1 ]; then
  echo "fuzz.sh: expected at most one number of seconds" >&2
  exit 2
fi

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build="$root/build-fuzz"

# True when clang can link a libFuzzer target (its runtime ships apart from
# the compiler on Debian).
fuzzer_links() {
  local probe
  probe=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    > "$probe/probe.cpp"
  local result=0
  clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1 || result=1
  rm -rf "$probe"
  return $result
}

install_fuzz_dependencies() {
  install_packages cmake make clang libboost-dev nlohmann-json3-dev
  if ! fuzzer_links; then
    local version
    version=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
    echo "== Installing the libFuzzer runtime of clang $version"
    install_packages "libclang-rt-$version-dev"
    if ! fuzzer_links; then
      echo "fuzz.sh: clang still cannot link a libFuzzer target" >&2
      exit 1
    fi
  fi
}

install_fuzz_dependencies

echo "== Configuring $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQEL_BUILD_FUZZ=ON -DQEL_SANITIZE=ON -DQEL_SANITIZE_THREAD=OFF \
  -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_EXAMPLES=OFF -DQEL_BUILD_BENCHMARKS=OFF -DQEL_INSTALL=OFF
echo "== Building $build"
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

# A fuzzer adds what it learns to its corpus directory: give it a copy, so
# that the checked-in seeds stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for target in "${targets[@]}"; do
  corpus="$work/$target"
  mkdir -p "$corpus"
  options=()
  if [ "$target" = operations ]; then
    cp "$root"/fuzz/corpus/* "$corpus"/
  else
    cp "$root"/fuzz/io-corpus/* "$corpus"/
    # Room for the seeds, which are saved models of a few kilobytes.
    options=(-dict="$root/fuzz/io.dict" -max_len=8192)
  fi
  echo "== Fuzzing fuzz_$target for $seconds s"
  status=0
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${options[@]}" "$corpus" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "fuzz.sh: fuzz_$target failed (exit $status); inputs are in $artifacts/" >&2
    exit "$status"
  fi
done
echo "== No crash, no divergence and nothing left behind in $seconds s (${targets[*]})"
