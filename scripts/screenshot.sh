#!/usr/bin/env bash
# Takes pictures of the Skerrow Driver's window, generating traffic against
# the stand-in hub on a private X server: docs/skerrowDriver.png as started
# by hand, and docs/skerrowDriver-live.png of an unattended run whose ranges
# and seed come from its switches, its status bar showing the live figures.
# Expects a built tree (scripts/run.sh or scripts/test.sh builds one).
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-$PWD/build/default/bin}"
docs="$PWD/docs"

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export RK_ANSWER_MESSAGE_BOXES=1

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# shoot OUT SETTLE ARGS...: hub and generator on a fresh desktop, a picture
# SETTLE seconds after traffic began, then both end.
shoot() {
  local out="$1" settle="$2" run
  shift 2
  run="$(mktemp -d "$work/run.XXXXXX")"
  export RK_DESKTOP="$run/desktop"
  mkdir -m 700 "$RK_DESKTOP"
  "$bin/kivstandin" --quiet --capture "$run/capture.txt" --ready "$run/ready" >/dev/null &
  local hub=$!
  pids+=("$hub")
  for _ in $(seq 100); do [ -s "$run/ready" ] && break; sleep 0.1; done

  "$bin/skerrowDriver" "$@" 2>/dev/null &
  local generator=$!
  pids+=("$generator")
  # Wait for traffic, so the picture shows the window generating.
  for _ in $(seq 100); do [ -s "$run/capture.txt" ] && break; sleep 0.1; done
  [ -s "$run/capture.txt" ] || { echo "screenshot.sh: no traffic arrived" >&2; exit 1; }
  sleep "$settle"

  mkdir -p "$(dirname "$out")"
  import -window skerrowDriver "$out"
  echo "screenshot.sh: wrote $out"
  kill "$generator" "$hub" 2>/dev/null || true
  wait "$generator" "$hub" 2>/dev/null || true
}

shoot "$docs/skerrowDriver.png" 1 12 /enable
# The status bar shows the second before it; a few let the totals grow.
shoot "$docs/skerrowDriver-live.png" 3 12 /enable /seed=7 /mpt=20,80 /ms=10,200 /s=1,64 /tt=10,40
