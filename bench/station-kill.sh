#!/usr/bin/env bash
# Kills the window station under a hub and a generator, RUNS times with the
# generator sending and RUNS times with it idle, and counts the runs in which,
# one second after the kill, the hub still lists the generator, nothing was
# counted malformed, a second generator for the same device is refused and a
# generator started afterwards finds the hub. Prints how many runs failed and
# why, and exits non-zero on any failure.
#   bash bench/station-kill.sh [RUNS] [BUILD_DIR]
set -uo pipefail
runs=${1:-10}
bin=$(cd "${2:-$(dirname "$0")/../build/default}" && pwd)/bin
export QT_QPA_PLATFORM=offscreen RK_ANSWER_MESSAGE_BOXES=1

wait_for() { # seconds command...
  local until=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge $until ] && return 1; sleep 0.02; done
}
hub_lists() { echo status >&"${hub[1]}"; sleep 0.05; grep -q "^driver $1 " "$work/hub.out"; }
station_replaced() { [ "$(cat "$RK_DESKTOP/winstation.pid" 2>/dev/null)" != "$1" ] || ! kill -0 "$1" 2>/dev/null; }
malformed() { grep -o '[0-9]* malformed' "$work/hub.err" | tail -1 | cut -d' ' -f1; }
failed() { ok=0; reasons+=("$1"); echo "  run $run: $1" >&2; }

one_run() { # traffic|idle
  work=$(mktemp -d) && export RK_DESKTOP=$work/desktop && mkdir -m 700 "$RK_DESKTOP"
  coproc hub { exec "$bin/kivstandin" --ready "$work/ready" 2>"$work/hub.err" >"$work/hub.out"; }
  ok=1
  local enable=""; [ "$1" = traffic ] && enable=/enable
  wait_for 10 test -s "$work/ready" || failed "the hub did not start"
  "$bin/skerrowDriver" 12 $enable 2>"$work/first.err" & local first=$!
  wait_for 10 hub_lists 12 || failed "the generator did not register"
  sleep 0.3
  local station; station=$(cat "$RK_DESKTOP/winstation.pid")
  kill -9 "$station"
  wait_for 5 station_replaced "$station" || failed "no station took over"
  sleep 1
  hub_lists 12 || failed "lost device 12"
  sleep 1.1 # one more live line after the kill
  [ "$(malformed)" = 0 ] || failed "malformed: $(malformed)"
  timeout 10 "$bin/skerrowDriver" 12 2>"$work/second.err"
  grep -q "already running" "$work/second.err" || failed "second generator accepted"
  "$bin/skerrowDriver" 13 2>"$work/third.err" & local third=$!
  wait_for 10 hub_lists 13 || failed "later generator did not find the hub"
  echo quit >&"${hub[1]}"
  kill "$first" "$third" 2>/dev/null; wait 2>/dev/null
  [ -s "$RK_DESKTOP/winstation.pid" ] && kill -9 "$(cat "$RK_DESKTOP/winstation.pid")" 2>/dev/null
  rm -rf "$work"
  return $((1 - ok))
}

status=0
for mode in traffic idle; do
  passed=0 reasons=()
  for ((run = 1; run <= runs; ++run)); do one_run $mode && passed=$((passed + 1)); done
  echo "station killed, generator $mode: $passed of $runs runs kept everything, $((runs - passed)) failed"
  [ ${#reasons[@]} -eq 0 ] || printf '%s\n' "${reasons[@]}" | sort | uniq -c | sed 's/^/  why: /'
  [ $passed -eq "$runs" ] || status=1
done
exit $status
