#!/usr/bin/env bash
# The SDK as a host developer meets it: install the build into a fresh prefix, build both
# examples there with pkg-config and with find_package(Sonquix), make a catalogue with the
# installed sonquix, and check that the first example identifies a copy of one of its tracks.
#   sdk_install_test.sh BUILD_DIR SOURCE_DIR WRITE_MUSIC LIBDIR (relative to the prefix)
set -euo pipefail
build=$1 source=$2 write_music=$3 libdir=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
# Nothing of the build or source tree may be needed from here on: the build's own module paths
# and the registry are out of reach, and the installed headers must not reach back.
export PELK_REGISTRY=$work/registry PELK_CATALOG=$work/no-catalog.db
unset PELK_MODULE_DIR
grep -rhoE '#include "[^"]+"' "$prefix/include/pelk" | sed -E 's/#include "(.*)"/\1/' | sort -u |
  while read -r header; do
    [ -f "$prefix/include/$header" ] || [ -f "$prefix/include/pelk/$header" ] ||
      fail "an installed header includes $header, which is not installed"
  done

# Each example is copied out of the source tree, as a host developer would start from it.
for example in identify_files library_progress; do
  cp -r "$source/examples/$example" "$work/$example-pc"
  PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig make -s -C "$work/$example-pc" >/dev/null ||
    fail "$example does not build with pkg-config"
  cmake -S "$source/examples/$example" -B "$work/$example-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null || fail "find_package(Sonquix) fails for $example"
  cmake --build "$work/$example-cmake" >/dev/null || fail "$example does not build with CMake"
done

# A catalogue of one album of three synthesized tracks, made by the installed host.
mkdir -p "$work/album" "$work/library"
for track in 1 2 3; do
  "$write_music" $((10 + track)) 16 "$work/album/0$track Track $track.wav"
done
"$prefix/bin/sonquix" catalog add-album "$work/catalog.db" --artist Synth --album Tones \
  --identifier D-SDK "$work/album/"*.wav >/dev/null || fail "the installed sonquix cannot add an album"
# The file to identify: track 2 again, under a name that says nothing.
"$write_music" 12 16 "$work/library/unknown.wav"
"$write_music" 99 16 "$work/library/stranger.wav"

for build_kind in pc cmake; do
  out=$("$work/identify_files-$build_kind/identify_files" --catalog "$work/catalog.db" \
    "$work/library/unknown.wav" "$work/library/stranger.wav") ||
    fail "identify_files ($build_kind) failed: $out"
  echo "$out"
  grep -q 'unknown.wav: Synth - Tones, track 2 .*disc D-SDK' <<<"$out" ||
    fail "identify_files ($build_kind) did not identify track 2"
  grep -q 'stranger.wav: not identified' <<<"$out" ||
    fail "identify_files ($build_kind) identified audio the catalogue lacks"
done

out=$("$work/library_progress-cmake/library_progress" --catalog "$work/catalog.db" \
  "$work/library/unknown.wav" "$work/library/stranger.wav") || fail "library_progress failed: $out"
echo "$out"
grep -q 'unknown.wav -> Synth - Tones, track 2' <<<"$out" &&
  grep -q 'stranger.wav -> ?' <<<"$out" || fail "library_progress lost a file"
grep -qE 'done: (1 exact, 0 fuzzy|0 exact, 1 fuzzy), 1 not found' <<<"$out" || fail "library_progress's counters are off"

# The installed host finds the installed modules on its own, from a moved tree as well.
mv "$prefix" "$work/moved"
version=$("$work/moved/bin/sonquix" --version)
grep -qx "modules: $work/moved/$libdir/libpelksonquix.so, $work/moved/$libdir/libpelkcontrol.so" \
  <<<"$version" || fail "the moved sonquix looks for its modules elsewhere: $version"
out=$("$work/moved/bin/sonquix" identify --catalog "$work/catalog.db" "$work/library/unknown.wav") ||
  fail "the moved sonquix cannot identify: $out"
grep -q 'Second\|Track 2\|track 2' <<<"$out" || fail "the moved sonquix did not find track 2: $out"
echo "sdk: installed, built and identified"
