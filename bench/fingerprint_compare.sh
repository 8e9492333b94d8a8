#!/usr/bin/env bash
# Side by side in one run, on the same 3-minute 44.1 kHz stereo recording in WAV, FLAC, MP3, Ogg
# Vorbis and AAC (M4A), made once with sox and the ffmpeg command:
#   - one file, whole process: `sonquix fingerprint FILE` against `fpcalc -length 15 FILE`;
#   - many files: FILES copies in one `sonquix fingerprint` process against `fpcalc -length 15`
#     run once per file;
#   - process start: `sonquix --version`;
#   - with a bench build (BUILD_DIR/bench/bench_fingerprinter), one GetFileFingerprint of the
#     WAV in-process.
# Figures are hyperfine's median wall clock and mean CPU time (user + system). On a machine that
# other work shares, the wall clock also counts time other processes took; the CPU ratio does not.
# Usage: fingerprint_compare.sh BUILD_DIR [FILES=50]
set -euo pipefail
build=${1:?usage: fingerprint_compare.sh BUILD_DIR [FILES]}
count=${2:-50}
sonquix="$build/cli/sonquix"
bench="$build/bench/bench_fingerprinter"
for tool in sox ffmpeg fpcalc hyperfine; do
  command -v "$tool" >/dev/null || { echo "fingerprint_compare: $tool is missing (scripts/deps.sh bench)" >&2; exit 1; }
done
[ -x "$sonquix" ] || { echo "fingerprint_compare: build $build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Pink noise under a slow tremolo: never silent, never constant. -R makes it repeatable.
sox -R -n -r 44100 -b 16 -c 2 "$work/music.wav" synth 180 pinknoise vol 0.5 tremolo 0.7 40
encode() {  # encode EXTENSION CODEC OPTIONS...
  local extension=$1
  shift
  ffmpeg -nostdin -hide_banner -loglevel error -y -i "$work/music.wav" -c:a "$@" \
    "$work/music.$extension"
}
encode flac flac
encode mp3 libmp3lame -b:a 192k
encode ogg libvorbis -q:a 5
encode m4a aac -b:a 192k
formats=(wav flac mp3 ogg m4a)
for f in "${formats[@]}"; do
  # A failure shows here, not inside hyperfine.
  "$sonquix" fingerprint "$work/music.$f" >/dev/null
  fpcalc -length 15 "$work/music.$f" >/dev/null
  mkdir "$work/many_$f"
  for i in $(seq -w 1 "$count"); do ln "$work/music.$f" "$work/many_$f/$i.$f"; done
done

# hyperfine's median wall time and mean user + system CPU, in ms (CSV: command, mean, stddev,
# median, user, system, min, max; seconds).
measure() {  # measure NAME RUNS COMMAND...
  local name=$1 runs=$2 warmup=2
  shift 2
  [ "$runs" -le 3 ] && warmup=1
  hyperfine -N --style none --warmup "$warmup" --runs "$runs" --export-csv "$work/$name.csv" "$@" \
    >/dev/null 2>&1
  awk -F, 'NR == 2 { printf "%.1f %.1f", $4 * 1000, ($5 + $6) * 1000 }' "$work/$name.csv"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }'; }
format="%-34s %9s %9s %13s %9s %10s %10s\n"
row() {  # row LABEL OURS FPCALC (each "wall cpu" in ms)
  printf "$format" "$1" "${2% *}" "${2#* }" "${3% *}" "${3#* }" "$(ratio "${3% *}" "${2% *}")" \
    "$(ratio "${3#* }" "${2#* }")"
}

echo "fingerprint of a 3-minute 44.1 kHz stereo recording, in ms: median wall clock, mean CPU"
printf "$format" "" "sonquix" "cpu" "fpcalc -l 15" "cpu" "wall ratio" "cpu ratio"
for f in "${formats[@]}"; do
  ours=$(measure "one_$f" 30 "$sonquix fingerprint $work/music.$f")
  peer=$(measure "peer_$f" 20 "fpcalc -length 15 $work/music.$f")
  row "$f: one file, whole process" "$ours" "$peer"
done
for f in "${formats[@]}"; do
  many=$(echo "$work/many_$f"/*)  # hyperfine -N runs no shell to expand a pattern
  ours=$(measure "many_$f" 3 "$sonquix fingerprint $many")
  # One fpcalc process per file, as a tool that fingerprints files one at a time runs it.
  peer=$(measure "peer_many_$f" 2 \
    "sh -c 'for file in $work/many_$f/*; do fpcalc -length 15 \"\$file\" >/dev/null; done'")
  row "$f: $count files" "$ours" "$peer"
done
startup=$(measure startup 30 "$sonquix --version")
printf "$format" "process start (sonquix --version)" "${startup% *}" "${startup#* }" "-" "-" "-" "-"
if [ -x "$bench" ]; then
  # The median of 101 single calls, in ms (CSV: name, iterations, real_time, cpu_time, ...).
  inproc=$(SONQUIX_BENCH_WAV="$work/music.wav" "$bench" --benchmark_format=csv 2>/dev/null |
           awk -F, '/_median"?,/ { printf "%.2f %.2f", $3, $4 }')
  printf "$format" "wav: one GetFileFingerprint, in-process" "${inproc% *}" "${inproc#* }" "-" "-" \
    "-" "-"
fi
echo "throughput: the many-files rows; a machine shared with other work inflates wall clocks"
