#!/usr/bin/env bash
# Builds the Windows target (preset "mingw") and runs its test suites under
# Wine in a private, headless prefix that is removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --windows
cmake --preset mingw >/dev/null
cmake --build --preset mingw --parallel "$(nproc)"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/rk-wine.XXXXXX")
export WINEPREFIX=$scratch/prefix
export WINEDEBUG=-all
# The prefix's drive C is the tests' own: they may write c:\telm_config.ini.
export RK_TEST_OWNS_DRIVE_C=1
# No Mono or Gecko: nothing here needs them and their installers would wait.
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=/usr/lib/wine/wineserver
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# One server for the whole run, with the prefix's services started here:
# started by a test instead, they would hold its output pipe open and CTest
# would wait for them. Top-level windows need a graphics driver; the null
# driver needs no display.
mkdir -p "$WINEPREFIX"
"$wineserver" -p
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
ctest --preset mingw --parallel "$(nproc)"
