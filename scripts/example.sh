#!/usr/bin/env bash
# Builds the example program and runs it: a small chart model that shows,
# step by step, what the library does.
#
#   bash scripts/example.sh
#
# Builds in build/, the tree scripts/test.sh uses. Missing tools are
# installed with apt-get (run as root). Exits non-zero if the example does.
set -euo pipefail

usage() {
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
}

case "${1:-}" in
  "") ;;
  -h|--help) usage; exit 0 ;;
  *) echo "example.sh: unknown option '$1'" >&2; usage >&2; exit 2 ;;
esac

# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_dependencies
configure_plain -DQEL_BUILD_EXAMPLES=ON
echo "== Building chart_model"
cmake --build "$root/build" --target chart_model -j "$jobs"
echo "== Running chart_model"
echo
"$root/build/examples/chart_model"
