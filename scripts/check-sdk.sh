#!/usr/bin/env bash
# Installs the release build into a scratch prefix, builds the plug-in
# template (examples/plugin-template) against that installation only, in a
# folder of its own, and runs a graph that uses it with the installed vorlan.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install build/release --prefix "$work/prefix" >/dev/null
cp -r examples/plugin-template "$work/template"
cmake -S "$work/template" -B "$work/template/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/template/build"
# The template's own tests: the processing, then its graph run headless.
ctest --test-dir "$work/template/build" --output-on-failure
ctest --test-dir "$work/template/build" -N | grep gain_graph_run >/dev/null
# The copied graph script finds the SDK's gph.py through the vorlan on PATH.
PATH="$work/prefix/bin:$PATH" /usr/bin/python3 "$work/template/make_gain_graph.py" "$work/copied.gph"
[[ -s $work/copied.gph ]]

# pkg-config users get the same flags: the same plug-in, built by hand.
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$(find "$work/prefix" -name vorlan-filter.pc)")
mkdir -p "$work/by-hand"
# shellcheck disable=SC2046
c++ -O2 -fPIC -shared -o "$work/by-hand/gain.so" "$work"/template/*.cpp $(pkg-config --cflags --libs vorlan-filter-gui)

vorlan=$work/prefix/bin/vorlan
image=$root/../shared/data/camera.bmp
[[ -f $image ]] || { image=$work/input.bmp; python3 scripts/make_test_image.py "$image"; }
cd "$work"
"$vorlan" --filters template/build/filters --list | grep -F 'Gain 1.0 [10000]'
"$vorlan" --filters by-hand --list | grep -F 'Gain 1.0 [10000]	Gain Library 1.0 (gain.so)'
"$vorlan" --filters template/build/filters --run "$root/examples/plugin-template/gain.gph" --quiet \
  --path "source=$image" --path "target=$work/gain.bmp" | tee values.txt
grep -q '^gain PSNR	' values.txt
[[ -s $work/gain.bmp ]]
echo "plug-in template: built against the installed SDK and run"
