#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Idempotent and quiet when nothing is missing. Extra sets: `deps.sh fuzz`, `deps.sh bench`,
# `deps.sh docs`.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libssl-dev libfftw3-dev libsqlite3-dev libtag1-dev
  libsndfile1-dev libavformat-dev libavcodec-dev libavutil-dev
  libcli11-dev nlohmann-json3-dev
  postgresql postgresql-contrib libpq-dev  # the shared catalogue; the tests start their own server
  ffmpeg musepack-tools  # the tests encode their audio into every format the host decodes
)
for extra in "$@"; do
  case "$extra" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    bench) packages+=(libchromaprint-tools hyperfine sox libsox-fmt-base espeak-ng libfaiss-dev) ;;
    docs) packages+=(doxygen) ;;
    *) echo "deps.sh: unknown set '$extra' (known: fuzz, bench, docs)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps.sh: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
