#!/usr/bin/env bash
# Runs a program of the Windows build under Wine; CTest calls it as the
# cross-compiling emulator. Needs WINEPREFIX naming a prepared prefix
# (scripts/wine-test.sh makes one).
#
# Under a heavily loaded wineserver, Wine itself now and then exits before
# it has run the program at all. rkdesktoprun makes the file named by
# RK_LAUNCH_MARKER as its first act, so such a launch, and only such a
# launch, is tried again; a program that ran and failed is never rerun.
set -uo pipefail
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
wine=${RK_WINE:-/usr/lib/wine/wine64}
if [[ $(basename "$1") != rkdesktoprun.exe ]]; then
  exec "$wine" "${args[@]}"
fi

marker=$(mktemp "${TMPDIR:-/tmp}/rk-launch.XXXXXX")
trap 'rm -f "$marker"' EXIT
export RK_LAUNCH_MARKER="Z:${marker//\//\\}"
for attempt in 1 2 3; do
  rm -f "$marker"
  "$wine" "${args[@]}"
  status=$?
  if [[ -e $marker ]]; then
    exit "$status"
  fi
  echo "wine-run.sh: Wine exited with $status before starting $1 (attempt $attempt)" >&2
done
exit "$status"
