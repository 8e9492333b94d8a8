#!/usr/bin/env bash
# The main job of `make run`: what the project can do end to end today.
set -euo pipefail
build=${1:-build}
sonquix="$build/cli/sonquix"
if [ ! -x "$sonquix" ]; then
  echo "run.sh: $sonquix was not built" >&2
  exit 1
fi
"$sonquix" --help
