#!/usr/bin/env bash
# Side by side on the same 3-minute 44.1 kHz 16-bit stereo WAV file: the in-process time of one
# GetFileFingerprint (median of single calls, bench_fingerprinter), and the whole-process time
# of `sonquix fingerprint` and of `fpcalc -length 15`, for one file and for twenty files in one
# process (hyperfine), with the CPU time beside the wall clock: on a busy machine the wall clock
# also counts the time other processes take. Usage: fingerprint_compare.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: fingerprint_compare.sh BUILD_DIR}
sonquix="$build/cli/sonquix"
bench="$build/bench/bench_fingerprinter"
for tool in sox fpcalc hyperfine; do
  command -v "$tool" >/dev/null || { echo "fingerprint_compare: $tool is missing (scripts/deps.sh bench)" >&2; exit 1; }
done
[ -x "$sonquix" ] && [ -x "$bench" ] || { echo "fingerprint_compare: build $build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Pink noise under a slow tremolo: never silent, never constant. -R makes it repeatable.
sox -R -n -r 44100 -b 16 -c 2 "$work/music.wav" synth 180 pinknoise vol 0.5 tremolo 0.7 40
files=()
for i in $(seq -w 1 20); do
  cp "$work/music.wav" "$work/music_$i.wav"
  files+=("$work/music_$i.wav")
done
"$sonquix" fingerprint "$work/music.wav" >/dev/null  # a failure shows here, not inside hyperfine
fpcalc -length 15 "$work/music.wav" >/dev/null

# In-process: the median of 101 single calls, in ms (CSV: name,iterations,real_time,cpu_time,...).
inproc=$(SONQUIX_BENCH_WAV="$work/music.wav" "$bench" --benchmark_format=csv 2>/dev/null |
         awk -F, '/_median"?,/ { printf "%.3f %.3f", $3, $4 }')
inproc_real=${inproc% *}
inproc_cpu=${inproc#* }

# Whole process: hyperfine's median wall time and mean user + system CPU, in ms (CSV: command,
# mean,stddev,median,user,system,min,max; seconds).
measure() {  # measure NAME RUNS COMMAND...
  local name=$1 runs=$2
  shift 2
  hyperfine -N --style none --warmup 3 --runs "$runs" --export-csv "$work/$name.csv" "$*" \
    >/dev/null 2>&1
  awk -F, 'NR == 2 { printf "%.2f %.2f", $4 * 1000, ($5 + $6) * 1000 }' "$work/$name.csv"
}
ours_one=$(measure ours_one 40 "$sonquix" fingerprint "$work/music.wav")
fpcalc_one=$(measure fpcalc_one 20 fpcalc -length 15 "$work/music.wav")
ours_twenty=$(measure ours_twenty 15 "$sonquix" fingerprint "${files[@]}")
fpcalc_twenty=$(measure fpcalc_twenty 5 fpcalc -length 15 "${files[@]}")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }'; }
format="%-36s %9s %9s %13s %9s %11s %10s\n"
row() {  # row LABEL OURS FPCALC (each "wall cpu" in ms)
  printf "$format" "$1" "${2% *}" "${2#* }" "${3% *}" "${3#* }" "$(ratio "${3% *}" "${2% *}")" \
    "$(ratio "${3#* }" "${2#* }")"
}
echo "fingerprint, 3-minute 44.1 kHz 16-bit stereo WAV, in ms: median wall clock, CPU (user+system)"
printf "$format" "" "sonquix" "cpu" "fpcalc -l 15" "cpu" "wall ratio" "cpu ratio"
printf "$format" "one GetFileFingerprint, in-process" "$inproc_real" "$inproc_cpu" "-" "-" "-" "-"
row "one file, whole process" "$ours_one" "$fpcalc_one"
row "twenty files, one process" "$ours_twenty" "$fpcalc_twenty"
startup=$(measure startup 40 "$sonquix" --version)
printf "$format" "process start (sonquix --version)" "${startup% *}" "${startup#* }" "-" "-" \
  "-" "-"
