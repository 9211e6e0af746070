#!/usr/bin/env bash
# Builds the operations fuzzer with clang (libFuzzer, ASan, UBSan) in
# build-fuzz/ and runs it on a copy of fuzz/corpus/ for a while.
#
#   bash scripts/fuzz.sh [seconds]    run for that long (default 60)
#
# Missing tools are installed with apt-get (run as root). Exits non-zero when
# the fuzzer finds a crash or a divergence from the model; the input that
# caused it is left in build-fuzz/fuzz-artifacts/ and replays with
#   build-fuzz/fuzz/fuzz_operations <that file>
set -euo pipefail

usage() {
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
}

case "${1:-}" in
  -h|--help) usage; exit 0 ;;
esac
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "fuzz.sh: seconds must be a positive whole number, not '$seconds'" >&2
  usage >&2
  exit 2
fi
if [ $# -gt 1 ]; then
  echo "fuzz.sh: expected at most one argument" >&2
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
  install_packages cmake make clang libboost-dev
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
cmake --build "$build" -j "$jobs" --target fuzz_operations

# The fuzzer adds what it learns to its corpus directory: give it a copy, so
# that the checked-in seeds stay as they are.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$root"/fuzz/corpus/* "$corpus"/
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

echo "== Fuzzing for $seconds s"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status=0
"$build/fuzz/fuzz_operations" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$corpus" || status=$?
if [ "$status" -ne 0 ]; then
  echo "fuzz.sh: the fuzzer failed (exit $status); inputs are in $artifacts/" >&2
  exit "$status"
fi
echo "== No crash and no divergence in $seconds s"
