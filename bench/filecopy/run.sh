#!/bin/sh
# Times copying a 256 MiB file through examples/copy.gph with
# `vorlan --run --quiet` against `cp` of the same file, and prints the ratio
# (goal: at most 1.5). Best of three runs each, warm page cache.
#
#   bench/filecopy/run.sh [BUILD_DIR]      (default: build/release)
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build/release"}
# The timing runs from a scratch folder, so a relative build folder is made absolute.
build=$(cd "$build" 2>/dev/null && pwd || echo "$build")
vorlan="$build/vorlan"
graph="$root/examples/copy.gph"
size_mib=256
runs=3

if [ ! -x "$vorlan" ]; then
  echo "no program at $vorlan; build it first (cmake --preset release && cmake --build --preset release)" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlan-filecopy.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/source.bin"
cp "$work/source.bin" "$work/warm.bin" && rm -f "$work/warm.bin"

now() { date +%s.%N; }
best() {  # best of $runs timings of the command "$@"
  best_time=
  i=0
  while [ $i -lt $runs ]; do
    rm -f "$work/target.bin"
    t0=$(now)
    "$@"
    t1=$(now)
    t=$(awk "BEGIN { print $t1 - $t0 }")
    if [ -z "$best_time" ] || [ "$(awk "BEGIN { print ($t < $best_time) }")" = 1 ]; then best_time=$t; fi
    i=$((i + 1))
  done
  echo "$best_time"
}

cp_time=$(best cp "$work/source.bin" "$work/target.bin")
# cp may copy inside the kernel (copy_file_range); cat moves the bytes
# through user space as vorlan does.
cat_to_target() { cat "$work/source.bin" > "$work/target.bin"; }
cat_time=$(best cat_to_target)
cmp -s "$work/source.bin" "$work/target.bin"
# vorlan loads the plug-ins beside itself, wherever it is run from.
cd "$work"
vorlan_time=$(best "$vorlan" --run "$graph" --quiet --path "source=$work/source.bin" --path "target=$work/target.bin")
if ! cmp -s "$work/source.bin" "$work/target.bin"; then
  echo "vorlan produced a different file" >&2
  exit 1
fi
printf 'cp      %8.3f s\ncat     %8.3f s\nvorlan  %8.3f s\nratio   %8.2f vorlan/cp (goal <= 1.5)\nratio   %8.2f vorlan/cat\n' \
  "$cp_time" "$cat_time" "$vorlan_time" "$(awk "BEGIN { print $vorlan_time / $cp_time }")" \
  "$(awk "BEGIN { print $vorlan_time / $cat_time }")"
