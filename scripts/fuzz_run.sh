#!/usr/bin/env bash
# A fuzz campaign over every target of a fuzz build: each runs SECONDS (wall clock) on its seed
# corpus (fuzz/corpus/<target>/, never modified) and a working corpus that grows from run to run
# (BUILD/corpus/<target>/). A crash, leak, timeout or out-of-memory input is kept in
# BUILD/findings/<target>/ and the target is started again for the time left, so one finding does
# not end the campaign. Prints executions, CPU seconds and findings per target, and the totals.
#   scripts/fuzz_run.sh BUILD SECONDS [TARGET...]
set -uo pipefail
build=${1:?usage: fuzz_run.sh BUILD SECONDS [TARGET...]}
seconds=${2:?usage: fuzz_run.sh BUILD SECONDS [TARGET...]}
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/fuzz/fuzz_*; do
    [ -x "$bin" ] && targets+=("$(basename "$bin" | sed 's/^fuzz_//')")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz_run.sh: no fuzz targets in $build/fuzz" >&2
  exit 1
fi

# CPU seconds (user + system) of everything this shell has waited for so far, into $cpu_now.
# `times` runs in this shell (a subshell would count only its own children); its second line
# is "XmY.YYYs XmY.YYYs", user and system of the children.
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
children_cpu() {
  times >"$times_file"
  cpu_now=$(sed -n 2p "$times_file" | awk '{
    n = 0
    for (i = 1; i <= 2; i++) { split($i, t, "m"); sub("s", "", t[2]); n += t[1] * 60 + t[2] }
    printf "%.1f", n }')
}

total_execs=0
total_findings=0
report=()
for target in "${targets[@]}"; do
  bin="$build/fuzz/fuzz_$target"
  if [ ! -x "$bin" ]; then
    echo "fuzz_run.sh: no target $bin" >&2
    exit 1
  fi
  seeds="$root/fuzz/corpus/$target"
  work="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/findings/$target.log"
  mkdir -p "$work" "$findings"
  : >"$log"
  corpora=("$work")
  [ -d "$seeds" ] && corpora+=("$seeds")

  count_findings() {
    find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
      -o -name 'oom-*' \) | wc -l
  }
  found_before=$(count_findings)
  execs=0
  start=$(date +%s)
  children_cpu
  cpu_before=$cpu_now
  while :; do
    left=$((seconds - ($(date +%s) - start)))
    [ "$left" -le 0 ] && break
    out=$("$bin" -max_total_time="$left" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" "${corpora[@]}" 2>&1)
    status=$?
    printf '%s\n' "$out" >>"$log"
    runs=$(printf '%s\n' "$out" | sed -n 's/^stat::number_of_executed_units: *//p' | tail -1)
    execs=$((execs + ${runs:-0}))
    [ "$status" -eq 0 ] && break
    # A finding (the input is in $findings) or a start-up failure: go on unless nothing ran.
    [ -z "$runs" ] && { echo "fuzz_run.sh: $target failed to start, see $log" >&2; break; }
  done
  children_cpu
  cpu=$(awk -v a="$cpu_now" -v b="$cpu_before" 'BEGIN { printf "%.1f", a - b }')
  found=$(($(count_findings) - found_before))
  corpus=$(find "$work" -type f | wc -l)
  report+=("$(printf '%-24s %12s %10s %9s %8s' "$target" "$execs" "$cpu" "$found" "$corpus")")
  total_execs=$((total_execs + execs))
  total_findings=$((total_findings + found))
done

printf '%-24s %12s %10s %9s %8s\n' target executions cpu_s findings corpus
printf '%s\n' "${report[@]}"
printf '%-24s %12s %10s %9s\n' total "$total_execs" "" "$total_findings"
[ "$total_findings" -eq 0 ] || echo "findings (inputs) are in $build/findings/<target>/"
