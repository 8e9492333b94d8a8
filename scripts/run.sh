#!/usr/bin/env bash
# The main job of `make run`: the project end to end. `sonquix demo` synthesizes six albums,
# builds a catalogue from them, makes a messy library of copies (wrong tags, no tags, other
# sample rates, a clip too short to fingerprint, a track the catalogue lacks) and identifies
# every file with TrackID through the two modules, then reports what it found against what was
# expected. Then the same library through the library queue in album mode, with the first
# lines of its report. After it, a few messy titles normalized and compared as the track scorer does.
set -euo pipefail
build=${1:-build}
sonquix="$build/cli/sonquix"
if [ ! -x "$sonquix" ]; then
  echo "run.sh: $sonquix was not built" >&2
  exit 1
fi
"$sonquix" --version

echo "== identifying a messy library"
demo_dir=$(mktemp -d)
trap 'rm -rf "$demo_dir"' EXIT
"$sonquix" demo --keep "$demo_dir/demo"

echo
echo "== the same library as albums, through the library queue"
"$sonquix" library "$demo_dir/demo/library" --catalog "$demo_dir/demo/catalog.db" \
  --report "$demo_dir/report.jsonl"
head -n 3 "$demo_dir/report.jsonl"

echo
echo "== file side against catalogue side"
while IFS='|' read -r file reference; do
  printf '"%s" vs "%s"\n' "$file" "$reference"
  "$sonquix" text compare "$file" "$reference" | sed 's/^/  /'
done <<'PAIRS'
03 - the lanterns [live].mp3|Lanterns (Live)
Cafe del Mar Vol 4|Café Del Mar, Vol. IV
PAIRS
