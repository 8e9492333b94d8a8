#!/usr/bin/env bash
# Runs every benchmark program of a build, then the side-by-side comparison scripts in bench/.
set -euo pipefail
build=${1:-build-bench}
for program in "$build"/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program"
done
for script in bench/*.sh; do
  [ -f "$script" ] || continue
  echo "== $script"
  bash "$script" "$build"
done
