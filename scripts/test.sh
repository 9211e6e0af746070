#!/usr/bin/env bash
# Builds the project and runs every test, on a fresh Debian machine too.
#
#   bash scripts/test.sh              plain build in build/ (g++, -Werror), then ctest
#   bash scripts/test.sh --clang      clang build in build-clang/ (-Werror), then ctest
#   bash scripts/test.sh --sanitize   ASan+UBSan build in build-asan/, then ctest
#   bash scripts/test.sh --tsan       ThreadSanitizer build in build-tsan/, then ctest
#   bash scripts/test.sh --lint       clang-format check of every source, clang-tidy on core/ and io/,
#                                     the API reference by Doxygen with warnings as errors
#   bash scripts/test.sh --fuzz       each fuzzer for 45 seconds (scripts/fuzz.sh)
#   bash scripts/test.sh --all        all of the above, one after the other (what CI runs)
#
# Builds and tests run JOBS jobs at once (default: one per processor).
# Missing tools are installed with apt-get (run as root). Exits non-zero on
# the first failure.
set -euo pipefail

usage() {
  sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
}

plain=0
clang=0
sanitize=0
tsan=0
lint=0
fuzz=0
case "${1:-}" in
  "") plain=1 ;;
  --clang) clang=1 ;;
  --sanitize) sanitize=1 ;;
  --tsan) tsan=1 ;;
  --lint) lint=1 ;;
  --fuzz) fuzz=1 ;;
  --all) plain=1; clang=1; sanitize=1; tsan=1; lint=1; fuzz=1 ;;
  -h|--help) usage; exit 0 ;;
  *) echo "test.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
esac
if [ $# -gt 1 ]; then
  echo "test.sh: expected at most one option" >&2
  exit 2
fi

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# build_and_test <build dir under root>: builds what is configured there and
# runs its tests.
build_and_test() {
  local build_dir="$root/$1"
  echo "== Building $build_dir"
  cmake --build "$build_dir" -j "$jobs"
  echo "== Testing $build_dir"
  (cd "$build_dir" && ctest --output-on-failure -j "$jobs")
}

install_dependencies

if [ "$plain" -eq 1 ]; then
  configure_plain
  build_and_test build
fi
if [ "$clang" -eq 1 ]; then
  install_packages clang
  configure build-clang -DCMAKE_CXX_COMPILER=clang++ -DQEL_SANITIZE=OFF -DQEL_SANITIZE_THREAD=OFF -DQEL_WERROR=ON
  build_and_test build-clang
fi
if [ "$sanitize" -eq 1 ]; then
  (
    # Leaks fail the run; any sanitizer report stops the program with a stack.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    configure build-asan -DQEL_SANITIZE=ON -DQEL_SANITIZE_THREAD=OFF
    build_and_test build-asan
  )
fi
if [ "$tsan" -eq 1 ]; then
  (
    # The first race or lock-order report stops the program, with both stacks.
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    configure build-tsan -DQEL_SANITIZE=OFF -DQEL_SANITIZE_THREAD=ON
    build_and_test build-tsan
  )
fi
if [ "$lint" -eq 1 ]; then
  install_packages clang-format clang-tidy doxygen
  echo "== Checking the format of every source"
  (cd "$root" && git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run -Werror)
  echo "== Library headers include each other in quotes"
  # In angle brackets, a client's header of the same name could be found
  # first once the library is installed.
  (
    cd "$root"
    mapfile -t library_files < <(git ls-files '*.h' '*.cpp' ':!:tests/' ':!:bench/' ':!:fuzz/' ':!:examples/')
    names=$(printf '%s\n' "${library_files[@]}" | sed -n 's|^\(.*/\)\{0,1\}\([^/]*\.h\)$|\2|p' | sed 's/\./\\./g' | paste -sd'|')
    if grep -nE "#include <($names)>" "${library_files[@]}"; then
      echo "test.sh: include the library's own headers above in quotes" >&2
      exit 1
    fi
  )
  # clang-tidy reads the compile commands of the plain build, and the docs
  # target appears there once doxygen is found.
  configure_plain
  echo "== clang-tidy on core/ and io/"
  (cd "$root" && clang-tidy -p build --quiet core/*.cpp core/accessors/*.cpp io/*.cpp)
  echo "== API reference (Doxygen, warnings as errors)"
  cmake --build "$root/build" --target docs
fi
if [ "$fuzz" -eq 1 ]; then
  bash "$root/scripts/fuzz.sh" 45
fi
echo "== All tests passed"
