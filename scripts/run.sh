#!/usr/bin/env bash
# The main job: sets up the machine, builds, starts the stand-in hub and the
# Skerrow Driver as the driver of device 12 with traffic switched on, lets the
# traffic run for a number of seconds (first argument or RK_RUN_SECONDS,
# default 10), has the hub announce its closing so that the generator closes
# itself, and prints the hub's summary. Fails when the generator did not end
# with exit code 0, when no traffic arrived or when any of it was malformed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-${RK_RUN_SECONDS:-10}}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: seconds must be a positive whole number" >&2; exit 2; }

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --parallel "$(nproc)" --target skerrowDriver kivstandin dravik telmif32 >/dev/null
bin="$PWD/build/default/bin"

work="$(mktemp -d)"
hub_pid=""
cleanup() {
  [ -n "$hub_pid" ] && kill "$hub_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A desktop of our own, so the run meets no other hub.
export RK_DESKTOP="$work/desktop"
mkdir -m 700 "$RK_DESKTOP"
# Unattended: a start-up failure is answered and reported instead of waiting for a click.
export RK_ANSWER_MESSAGE_BOXES=1

"$bin/kivstandin" --seconds "$seconds" --summary "$work/summary.json" --capture "$work/capture.txt" \
  --ready "$work/ready" >"$work/summary.txt" &
hub_pid=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.1; done
[ -s "$work/ready" ] || { echo "run.sh: the hub did not start" >&2; exit 1; }

generator=("$bin/skerrowDriver" 12 /enable)
if [ -n "${DISPLAY:-}" ]; then
  echo "Skerrow Driver on display $DISPLAY for $seconds s"
else
  echo "Skerrow Driver under Xvfb for $seconds s"
  generator=(xvfb-run -a -s "-screen 0 1024x768x24" "${generator[@]}")
fi
set +e
timeout $((seconds + 60)) "${generator[@]}"
generator_rc=$?
wait "$hub_pid"
hub_rc=$?
set -e
hub_pid=""

cat "$work/summary.txt"
python3 - "$work/summary.json" "$generator_rc" "$hub_rc" <<'PY'
import json, sys
summary = json.load(open(sys.argv[1]))
generator_rc, hub_rc = int(sys.argv[2]), int(sys.argv[3])
problems = []
if generator_rc != 0:
    problems.append(f"the generator ended with exit code {generator_rc}")
if hub_rc != 0:
    problems.append(f"the hub ended with exit code {hub_rc}")
if summary.get("messages", 0) == 0:
    problems.append("no traffic arrived at the hub")
if summary.get("malformed", 0) != 0:
    problems.append(f"{summary['malformed']} malformed commands")
if summary.get("drivers", 0) != 0:
    problems.append("the generator was still registered when the hub ended")
for p in problems:
    print("run.sh: " + p, file=sys.stderr)
print("run.sh: " + ("FAILED" if problems else "ok: traffic flowed, nothing malformed, exit code 0"))
sys.exit(1 if problems else 0)
PY
