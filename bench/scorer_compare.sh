#!/usr/bin/env bash
# The track scorer and the text measures of this tree beside those of an earlier commit, in one
# run: this tree's bench_track_scorer and bench_text_normalize sources are built against BASE's
# library sources (in BUILD_DIR/scorer-base), then the two builds run alternately REPS times. For
# each benchmark the median real and CPU time of each side is printed, with the load average
# before and after (the machine may be shared: real time then grows with the load, CPU time much
# less).
# Usage: scorer_compare.sh BUILD_DIR BASE [REPS=5] [FILTER=.]   (JOBS: build jobs, default 2)
set -euo pipefail
build=${1:?usage: scorer_compare.sh BUILD_DIR BASE [REPS] [FILTER]}
base=${2:?usage: scorer_compare.sh BUILD_DIR BASE [REPS] [FILTER]}
reps=${3:-5}
filter=${4:-.}
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
programs=(bench_track_scorer bench_text_normalize)
for program in "${programs[@]}"; do
  [ -x "$build/bench/$program" ] || { echo "scorer_compare: build $build/bench/$program first" >&2; exit 1; }
done
command -v python3 >/dev/null || { echo "scorer_compare: python3 is missing" >&2; exit 1; }

side="$build/scorer-base"
rm -rf "$side/src"
mkdir -p "$side/src"
git -C "$root" archive "$base" | tar -x -C "$side/src"
cp "$root"/bench/track_scorer.cpp "$root"/bench/text_normalize.cpp "$side/src/bench/"
cmake -S "$side/src" -B "$side/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONQUIX_BUILD_BENCH=ON \
  -DSONQUIX_BUILD_TESTS=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$side/build" -j "${JOBS:-2}" --target "${programs[@]}" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for i in $(seq 1 "$reps"); do
  for program in "${programs[@]}"; do
    "$side/build/bench/$program" --benchmark_filter="$filter" --benchmark_format=json \
      >"$work/base-$program-$i.json" 2>/dev/null
    "$build/bench/$program" --benchmark_filter="$filter" --benchmark_format=json \
      >"$work/this-$program-$i.json" 2>/dev/null
  done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work" "$base" <<'PY'
import collections, glob, json, os, statistics, sys
work, base = sys.argv[1], sys.argv[2]
times = collections.defaultdict(list)
for path in glob.glob(os.path.join(work, "*.json")):
    side = os.path.basename(path).split("-")[0]
    for b in json.load(open(path))["benchmarks"]:
        times[(b["name"], side)].append((b["real_time"], b["cpu_time"], b["time_unit"]))
names = sorted({name for name, _ in times})
print(f"{'benchmark':34} {base[:12] + ' real':>17} {'cpu':>9} {'this tree real':>17} {'cpu':>9}")
for name in names:
    row = f"{name:34}"
    for side in ("base", "this"):
        runs = times.get((name, side))
        if not runs:
            row += f" {'-':>17} {'-':>9}"
            continue
        unit = runs[0][2]
        real = statistics.median(r[0] for r in runs)
        cpu = statistics.median(r[1] for r in runs)
        row += f" {real:14.0f} {unit:2} {cpu:6.0f} {unit:2}"
    print(row)
PY
