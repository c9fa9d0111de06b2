#!/usr/bin/env bash
# Builds the default preset's benchmarks and runs every one of them, the
# driver library's before the generator's so that their rates can be read
# side by side. The figures are only as steady as the machine: run them on a
# quiet one.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --parallel "$(nproc)" >/dev/null
bin="$PWD/build/default/bin"

status=0
# bench_app last; bench_app_without_figures is only its helper, run by it.
for bench in $(ls "$bin" | grep -E '^bench_|_bench$' | grep -v -E '^bench_app(_without_figures)?$') bench_app; do
  [ -x "$bin/$bench" ] || continue
  echo "== $bench"
  "$bin/$bench" 2>/dev/null || { echo "$bench failed" >&2; status=1; }
done
exit $status
