#!/usr/bin/env bash
# Takes a picture of the Skerrow Driver's window, generating traffic against
# the stand-in hub on a private X server, into docs/skerrowDriver.png.
# Expects a built tree (scripts/run.sh or scripts/test.sh builds one).
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-$PWD/build/default/bin}"
out="$PWD/docs/skerrowDriver.png"

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export RK_DESKTOP="$work/desktop"
mkdir -m 700 "$RK_DESKTOP"
export RK_ANSWER_MESSAGE_BOXES=1

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

"$bin/kivstandin" --quiet --capture "$work/capture.txt" --ready "$work/ready" >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.1; done

"$bin/skerrowDriver" 12 /enable 2>/dev/null &
pids+=($!)
# Wait for traffic, so the picture shows the window generating.
for _ in $(seq 100); do [ -s "$work/capture.txt" ] && break; sleep 0.1; done
[ -s "$work/capture.txt" ] || { echo "screenshot.sh: no traffic arrived" >&2; exit 1; }
sleep 1

mkdir -p "$(dirname "$out")"
import -window skerrowDriver "$out"
echo "screenshot.sh: wrote $out"
