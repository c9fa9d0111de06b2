#!/usr/bin/env bash
# Runs examples/fleet/ as a system-wide load test runs it, on this machine:
# the playbook against two workstations with ansible_connection=local
# (examples/fleet/local.yml: each its own folder, desktop and workstation
# number), installing the kit's Debian packages built from the "kit"
# preset, then checks the merged report against the two runs' own. The
# packages are removed again unless they were installed before.
# Installing needs root (CI runs as root).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset kit >/dev/null
cmake --build --preset kit --parallel "$(nproc)"

work="$(mktemp -d)"
installed_before=""
dpkg-query -W -f='${Status}' telm-tools 2>/dev/null | grep -q 'install ok installed' && installed_before=yes
cleanup() {
  if [ -z "$installed_before" ]; then dpkg -r telm-tools >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "fleet-test.sh: $*" >&2; exit 1; }

echo "== the kit's packages"
(cd build/kit && cpack -G DEB -B "$work/packages" >/dev/null)
tools=("$work"/packages/telm-tools_*.deb)
[ -e "${tools[0]}" ] || fail "cpack built no telm-tools package"

echo "== the playbook on two workstations of this machine"
# The controller's merge uses the installed kit too: the packages go in
# before it runs.
ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ansible-playbook -i examples/fleet/local.yml examples/fleet/fleet.yml \
  -e telm_scenario="$PWD/examples/fleet/scenario.ini" -e telm_local_root="$work/workstations" \
  -e telm_results="$work/results" -e telm_lead_seconds=10 \
  -e "{\"telm_packages\": [\"${tools[0]}\"]}" | grep -v 'RETRYING' \
  || fail "the playbook failed"

echo "== the merged report"
python3 - "$work/results" <<'EOF'
import json, os, sys

results = sys.argv[1]
def load(name):
    with open(os.path.join(results, name), encoding="utf-8") as stream:
        return json.load(stream)

runs = [load("ws1.json"), load("ws2.json")]
merged = load("merged.json")
problems = []
def check(what, held):
    if not held:
        problems.append(what)

check("each run recorded its own workstation number",
      [r["workstation"]["number"] for r in runs] == [1, 2])
check("the merged report has a row per workstation",
      [w["workstation"] for w in merged["workstations"]] == ["1", "2"])
check("the runs started together (their hubs within a second)",
      abs(runs[0]["hub"]["started_utc"] - runs[1]["hub"]["started_utc"]) < 1.0)
check("commands add up", merged["total"]["commands"] == sum(r["total"]["commands"] for r in runs))
check("the hubs' counts add up", merged["hub"]["messages"] == sum(r["hub"]["messages"] for r in runs))
for kind in ("answer_ms", "response_ms"):
    check(f"{kind} pools every command", merged["total"][kind]["commands"]
          == sum(r["total"][kind]["commands"] for r in runs))
    check(f"{kind} max is the larger run's", merged["total"][kind]["max"]
          == max(r["total"][kind]["max"] for r in runs))
series = sum(sum(s["commands"]) for s in merged["series"].values())
check("the merged series holds both runs' seconds",
      series == sum(sum(s["commands"]) for r in runs for s in r["series"].values()))
check("the thresholds were judged again", len(merged["thresholds"]) == 4 and merged["ok"])
check("the HTML report was written", os.path.getsize(os.path.join(results, "merged.html")) > 0)
for problem in problems:
    print(f"fleet-test.sh: not so: {problem}", file=sys.stderr)
sys.exit(1 if problems else 0)
EOF
echo "fleet-test.sh: ok: two workstations ran the scenario at one moment and their reports merged"
