#!/usr/bin/env bash
# Runs every program of a benchmark build (the bench_*_study programs measure matching quality
# rather than time; bench_waveform_study and bench_ladder_study make their audio with sox and
# espeak-ng and take a few minutes each), then the side-by-side comparison scripts in bench/.
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
