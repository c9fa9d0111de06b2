#!/usr/bin/env bash
# Runs a program of the Windows build under Wine; CTest calls it as the
# cross-compiling emulator. Needs WINEPREFIX naming a prepared prefix
# (scripts/wine-test.sh makes one).
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX is not set: run the Windows tests through scripts/wine-test.sh}"
export WINEDEBUG="${WINEDEBUG:--all}"

args=()
for arg in "$@"; do
  # Windows programs name host files by drive Z:, which maps the host's root.
  if [[ $arg == /* && -e $arg ]]; then
    arg="Z:${arg//\//\\}"
  fi
  args+=("$arg")
done
exec "${RK_WINE:-/usr/lib/wine/wine64}" "${args[@]}"
