#!/usr/bin/env bash
# Builds the fuzz preset when needed and runs every libFuzzer target for
# SECONDS each (default 30), seeded from a copy of fuzz/corpus/<target>/ so
# the tree stays as it is. Fails when any target fails; prints each
# target's executions. A failing input is kept in the run's directory.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"

bash scripts/setup.sh
[ -f build/fuzz/CMakeCache.txt ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --parallel 2 >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/rk-fuzz-XXXXXX")"
failed=()
for target in build/fuzz/bin/*_fuzz; do
  name="$(basename "$target")"
  corpus="$work/$name/corpus"
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$name" ]; then
    cp -r "fuzz/corpus/$name/." "$corpus/"
  fi
  log="$work/$name/log"
  if (cd "$work/$name" && "$OLDPWD/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/$name/" corpus >"$log" 2>&1); then
    status=ok
  else
    status=FAILED
    failed+=("$name")
  fi
  runs="$(grep -a 'stat::number_of_executed_units' "$log" | awk '{print $2}' | tail -1)"
  printf '%-20s %-6s %12s executions in %s s\n' "$name" "$status" "${runs:-?}" "$seconds"
  if [ "$status" = FAILED ]; then
    grep -a -E 'expectation failed|ERROR:|SUMMARY:|Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]} (inputs and logs in $work)"
  exit 1
fi
rm -rf "$work"
echo "fuzz.sh: ok: every target ran ${seconds} s without a finding"
