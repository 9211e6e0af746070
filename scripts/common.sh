# shellcheck shell=bash
# Shared by the scripts in this directory; they source it, nobody runs it.
# Defines root (the source tree), jobs (parallel build and test jobs: JOBS
# from the environment, or one per processor), install_dependencies,
# install_python_packages, install_packages, configure and configure_plain.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck disable=SC2034 # used by the scripts that source this file
jobs="${JOBS:-$(nproc)}"
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "$(basename "$0"): JOBS must be a positive whole number, not '$jobs'" >&2
  exit 2
fi

# Installs the packages the build needs, touching apt only when one is missing.
install_dependencies() {
  # make is named because cmake only recommends it, and recommends are skipped.
  # pkg-config is for the install test, which builds a client from its output.
  install_packages cmake make g++ libboost-dev libgtest-dev libbenchmark-dev pkg-config nlohmann-json3-dev
  install_python_packages
}

# The Python module and its tests (Debian's interpreter, /usr/bin/python3).
install_python_packages() {
  install_packages python3 python3-dev pybind11-dev python3-pytest
}

# install_packages <package...>: installs those that are missing.
install_packages() {
  local packages=("$@")
  local missing=()
  local package
  for package in "${packages[@]}"; do
    # A removed package can still be known to dpkg; only "installed" counts.
    if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return
  fi
  echo "== Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
}

# configure <build dir under root> <extra cmake arguments...>
configure() {
  local build_dir="$root/$1"
  shift
  echo "== Configuring $build_dir"
  cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

# configure_plain: the plain build in build/, warnings as errors. test.sh and
# example.sh share it, so they must configure it alike.
configure_plain() {
  configure build -DQEL_SANITIZE=OFF -DQEL_SANITIZE_THREAD=OFF -DQEL_WERROR=ON "$@"
}
