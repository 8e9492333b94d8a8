#!/usr/bin/env bash
# The main job of `make run`: what the project can do end to end today. For now: normalize a
# few messy titles and compare them with the catalogue's spelling, as the track scorer will.
set -euo pipefail
build=${1:-build}
sonquix="$build/cli/sonquix"
if [ ! -x "$sonquix" ]; then
  echo "run.sh: $sonquix was not built" >&2
  exit 1
fi
"$sonquix" --version

echo "== normalized titles"
"$sonquix" text normalize "The Lanterns (Remastered)" "R.E.M. - Losing My Religion" \
  "Café Del Mar, Vol. IV" "ＴＯＫＹＯ　ＮＩＧＨＴ" "Ｌ'Été Indien" "Rock & Roll Part II" \
  "Ποτέ Ξανά" "ЁЛКА" "ｶﾞﾝﾀﾞﾑ"

echo "== file side against catalogue side"
while IFS='|' read -r file reference; do
  printf '"%s" vs "%s"\n' "$file" "$reference"
  "$sonquix" text compare "$file" "$reference" | sed 's/^/  /'
done <<'PAIRS'
03 - the lanterns [live].mp3|Lanterns (Live)
Cafe del Mar Vol 4|Café Del Mar, Vol. IV
Losing my religion|Losing My Religion (Remastered 2003)
Symphony No 5|Symphony No. 9
PAIRS

echo "== as JSON"
"$sonquix" text compare --json "Rock and Roll" "Rock & Roll"
