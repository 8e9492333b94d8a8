#!/usr/bin/env bash
# Whole-library identification, side by side in one run. A synthesized library of FILES files in
# albums of ten (every other album WAV, the rest Ogg Vorbis; 20 s of band-limited noise under a
# tremolo, every track its own band and rate), a catalogue holding those albums (added from the
# audio with `catalog add-album`) padded with random discs up to TRACKS tracks, then:
#   - `sonquix library` in track mode (--tracks) and in album mode: files per second, CPU use
#     (user + system over wall time: 2.0 means both cores busy all along), peak memory, and how
#     many files got their own album, another album or none (from the report);
#   - `fpcalc -length 15`, one process per file, over the same files: the peer's figure for
#     fingerprinting alone (decoding included), with the same CPU and memory measures.
# Usage: library_compare.sh BUILD_DIR [FILES=1000] [TRACKS=10000]
set -euo pipefail
build=${1:?usage: library_compare.sh BUILD_DIR [FILES] [TRACKS]}
files=${2:-1000}
tracks=${3:-10000}
sonquix="$build/cli/sonquix"
for tool in sox fpcalc python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "library_compare: $tool is missing (scripts/deps.sh bench)" >&2; exit 1; }
done
[ -x "$sonquix" ] || { echo "library_compare: build $build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
lib="$work/library"
catalog="$work/catalog.db"
albums=$(( (files + 9) / 10 ))

echo "making $files files in $albums albums..."
n=0
for a in $(seq 1 "$albums"); do
  dir="$lib/Artist $a - Album $a"
  mkdir -p "$dir"
  ext=wav
  [ $((a % 2)) -eq 0 ] && ext=ogg
  for t in $(seq 1 10); do
    [ "$n" -lt "$files" ] || break
    n=$((n + 1))
    center=$(( 200 + (a * 37 + t * 211) % 3000 ))
    rate=$(awk -v a="$a" -v t="$t" 'BEGIN { printf "%.2f", 1.5 + ((a * 13 + t * 7) % 50) / 10 }')
    sox -R -n -r 22050 -c 1 "$dir/$(printf %02d "$t") - Song $t of $a.$ext" \
      synth 20 pinknoise band "$center" 200 tremolo "$rate" 60 2>/dev/null
  done
done

echo "building the catalogue..."
"$sonquix" catalog create "$catalog" >/dev/null
for dir in "$lib"/*/; do
  name=$(basename "$dir")
  "$sonquix" catalog add-album "$catalog" "$dir"* --artist "${name% - *}" --album "${name#* - }" \
    >/dev/null
done
python3 - "$work/padding.json" "$tracks" "$files" <<'PY'
import json, random, sys
path, tracks, present = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
def signature():
    values = []
    for _ in range(2):
        left = 32768
        for i in range(15):
            v = left if i == 14 else rng.randrange(1000, 3000)
            values.append(v)
            left -= v
    return " ".join(map(str, values))
discs = []
for d in range(max(0, tracks - present) // 10):
    discs.append({"identifier": f"PAD-{d:06d}", "album": f"Padding {d}", "artist": f"Filler {d % 997}",
                  "track_count": 10,
                  "tracks": [{"number": t, "title": f"Filler song {d}-{t}", "identifier": f"PT-{d}-{t}",
                              "signature": signature()} for t in range(1, 11)]})
json.dump({"format": "pelk-catalog", "version": 1, "discs": discs}, open(path, "w"))
PY
"$sonquix" catalog import "$catalog" "$work/padding.json" >/dev/null
"$sonquix" catalog stats "$catalog" | sed 's/^/  /'

# Prints: files/s, CPU use, peak MB (from /usr/bin/time's "%e %U %S %M" line in $1).
rates() {
  awk -v n="$files" '{ printf "%7.1f files/s   CPU %4.2f cores   peak %6.1f MB", n / $1, ($2 + $3) / $1, $4 / 1024 }' "$1"
}
# Found / other / none, by the album folder against the album the report gives each file.
outcome() {
  python3 - "$1" <<'PY'
import json, os, sys
own = other = none = 0
for line in open(sys.argv[1]):
    r = json.loads(line)
    folder = os.path.basename(os.path.dirname(r.get("file", "")))
    album = r.get("album") or ""
    if not album:
        none += 1
    elif folder.endswith(" - " + album):
        own += 1
    else:
        other += 1
print(f"own album {own}, another album {other}, none {none}")
PY
}

for mode in tracks albums; do
  flag=()
  [ "$mode" = tracks ] && flag=(--tracks)
  report="$work/report-$mode.jsonl"
  /usr/bin/time -o "$work/time-$mode" -f '%e %U %S %M' \
    "$sonquix" library "$lib" --catalog "$catalog" --report "$report" "${flag[@]}" >/dev/null 2>&1
  printf '%-28s %s   %s\n' "sonquix library ($mode)" "$(rates "$work/time-$mode")" "$(outcome "$report")"
done

find "$lib" -type f | sort > "$work/list"
/usr/bin/time -o "$work/time-fpcalc" -f '%e %U %S %M' \
  sh -c 'while IFS= read -r f; do fpcalc -length 15 "$f" >/dev/null; done < "$1"' _ "$work/list"
printf '%-28s %s\n' "fpcalc -length 15 (per file)" "$(rates "$work/time-fpcalc")"
