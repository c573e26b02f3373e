#!/usr/bin/env bash
# Sets Caspira up on a Debian 12 machine: installs the packages the build needs (only those
# missing; the package lists are refreshed only then), configures and builds.
#
#   scripts/setup.sh [extra cmake arguments]
#   BUILD_DIR=build-x CXX=clang++ scripts/setup.sh -DCASPIRA_SANITIZE=address
#   scripts/setup.sh --packages-only
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation
)

missing=()
for package in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=()
  [ "$(id -u)" -eq 0 ] || SUDO=(sudo)
  "${SUDO[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --packages-only: install what is missing and stop.
[ "${1:-}" = --packages-only ] && exit 0

BUILD_DIR=${BUILD_DIR:-build}
# ccache lets the several trees (normal, sanitizers, fuzzing) rebuild only what changed.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" > "$BUILD_DIR.configure.log" 2>&1 ||
  { cat "$BUILD_DIR.configure.log"; exit 1; }
cmake --build "$BUILD_DIR"
