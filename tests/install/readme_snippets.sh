#!/usr/bin/env bash
# Driven by the readme_snippets test: builds every C++ snippet of README.md
# against an installed package, with warnings as errors, and runs them.
#
#   readme_snippets.sh <README.md> <build dir> <work dir> <libdir> <c++ compiler> <pkg-config> [flags...]
#
# The snippets build on each other, as a reader takes them: they become one
# program, in README order, their #include lines at the top and everything
# else in main() (the node classes they define are local classes there).
# A "<!-- check: EXPR -->" line in the README, which a reader does not see,
# checks that the snippet above it does what its text says. #line
# directives make the compiler name README lines.
set -euo pipefail

if [ $# -lt 6 ]; then
  sed -n '5p' "$0" | sed 's/^# *//' >&2
  exit 2
fi
readme=$1 build=$2 work=$3 libdir=$4 cxx=$5 pkg_config=$6
shift 6
prefix="$work/prefix"
rm -rf "$work"
mkdir -p "$work"

cmake --install "$build" --prefix "$prefix" > "$work/install.log"

: > "$work/head"
: > "$work/body"
awk -v readme="$readme" -v head="$work/head" -v body="$work/body" '
  BEGIN { in_cpp = 0 }
  /^```cpp$/ { in_cpp = 1; printf "#line %d \"%s\"\n", NR + 1, readme > body; next }
  /^```/ && in_cpp { in_cpp = 0; next }
  in_cpp && /^#include/ { printf "#line %d \"%s\"\n%s\n", NR, readme, $0 > head; next }
  in_cpp { print > body; next }
  /^<!-- check: .* -->$/ {
    expr = $0
    sub(/^<!-- check: /, "", expr)
    sub(/ -->$/, "", expr)
    printf "#line %d \"%s\"\nQEL_README_CHECK(%s);\n", NR, readme, expr > body
    checks++
  }
  END { if (checks == 0) { print "no checks found in " readme > "/dev/stderr"; exit 1 } }
' "$readme" 2>&1 || { echo "readme_snippets.sh: extracting the snippets failed" >&2; exit 1; }
{
  echo '#include <cstdio>'
  cat "$work/head"
  echo '#define QEL_README_CHECK(condition) \'
  echo '    do { if (!(condition)) { std::fprintf(stderr, "%s:%d: not as the text says: %s\n", __FILE__, __LINE__, #condition); return 1; } } while (0)'
  echo 'int main() {'
  cat "$work/body"
  echo '#line 1 "readme_snippets.sh"'
  echo 'return 0;'
  echo '}'
} > "$work/snippets.cpp"

export PKG_CONFIG_PATH=""
export PKG_CONFIG_LIBDIR="$prefix/$libdir/pkgconfig"
read -r -a package_flags <<< "$("$pkg_config" --cflags --libs QelChartIO)"
"$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror "$@" "$work/snippets.cpp" "${package_flags[@]}" \
  "-Wl,-rpath,$prefix/$libdir" -o "$work/snippets"
"$work/snippets"
echo "readme snippets: built and run, every check held"
