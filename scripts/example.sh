#!/usr/bin/env bash
# Builds the example program and runs it: a small chart model that shows,
# step by step, what the library does.
#
#   bash scripts/example.sh            the C++ program, examples/chart_model.cpp
#   bash scripts/example.sh --python   the same chart from Python, examples/chart_model.py
#
# Builds in build/, the tree scripts/test.sh uses. Missing tools are
# installed with apt-get (run as root). Exits non-zero if the example does.
set -euo pipefail

usage() {
  sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
}

python=0
case "${1:-}" in
  "") ;;
  --python) python=1 ;;
  -h|--help) usage; exit 0 ;;
  *) echo "example.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
esac

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_dependencies
if [ "$python" -eq 1 ]; then
  install_python_packages
  configure_plain -DQEL_BUILD_EXAMPLES=ON -DQEL_BUILD_PYTHON=ON
  echo "== Building the Python module"
  cmake --build "$root/build" --target qelchart_python -j "$jobs"
  echo "== Running chart_model.py"
  echo
  # The interpreter the module was built for.
  interpreter=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$root/build/CMakeCache.txt")
  PYTHONPATH="$root/build/python" "${interpreter:-python3}" "$root/examples/chart_model.py"
  exit
fi
configure_plain -DQEL_BUILD_EXAMPLES=ON
echo "== Building chart_model"
cmake --build "$root/build" --target chart_model -j "$jobs"
echo "== Running chart_model"
echo
"$root/build/examples/chart_model"
