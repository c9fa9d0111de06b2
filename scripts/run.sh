#!/usr/bin/env bash
# The main job: sets up the machine, builds what is missing and runs the
# scenario scenarios/burble-and-peaks.ini (six generators keeping up a
# burble, a seventh adding peaks) against the stand-in hub for a number of
# seconds (first argument or RK_RUN_SECONDS, default 20). Prints the live
# line and the end summary, and leaves the report, the chart and the HTML
# report in build/default/scenario-run/. Fails when the scenario runner does: a
# generator that did not register or end with 0, no traffic, anything
# malformed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-${RK_RUN_SECONDS:-20}}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: seconds must be a positive whole number" >&2; exit 2; }

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --parallel "$(nproc)" --target skerrowScenario dravik telmif32 >/dev/null

out="$PWD/build/default/scenario-run"
mkdir -p "$out"
build/default/bin/skerrowScenario scenarios/burble-and-peaks.ini --seconds "$seconds" \
  --report "$out/report.json" --chart "$out/chart.png" --html "$out/report.html"
