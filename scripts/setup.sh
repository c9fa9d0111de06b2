#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the main job
# need. Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  qtbase5-dev qtbase5-dev-tools
  xvfb xauth x11-apps imagemagick
  help2man lintian dpkg-dev man-db
  python3 python3-matplotlib
  libjs-chart.js chromium
  clang-14 libclang-rt-14-dev
  ansible-core python3-apt
)
if [ "${1:-}" = "--windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine wine64 googletest)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
