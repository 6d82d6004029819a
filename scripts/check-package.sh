#!/usr/bin/env bash
# Builds the Debian packages, checks them with lintian (no error, no
# warning), checks that the debug symbols cover every stripped binary,
# installs the packages with apt-get and then uses the installed Vorlan as a
# user without privileges would: --list, every example graph from
# /usr/share/vorlan/examples in a folder of their own, the Python module,
# vorlan-demo, a small vorlan-sweep, the man
# pages, the bash completion, the MIME types, the manual, and a plug-in built
# from the installed template. Needs root or sudo; the packages stay
# installed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

built=$(mktemp)
scripts/package.sh >"$built"
mapfile -t packages < <(tail -n 3 "$built")
rm -f "$built"
deb=${packages[0]}
dev=${packages[1]}
dbgsym=${packages[2]}

work=$(mktemp -d)
user=vorlan-check
created_user=0
cleanup() {
  rm -rf "$work"
  if [[ $created_user -eq 1 ]]; then "${sudo_cmd[@]}" userdel "$user" 2>/dev/null || true; fi
}
trap cleanup EXIT

echo "== lintian"
lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb" "$dev" "$dbgsym" | tee "$work/lintian.txt"
echo "lintian: $(grep -c '^[EW]:' "$work/lintian.txt" || true) errors and warnings," \
  "$(grep -c '^I:' "$work/lintian.txt" || true) informational tags"

echo "== debug symbols"
dpkg-deb -x "$deb" "$work/deb"
dpkg-deb -c "$dbgsym" | awk '{print $NF}' >"$work/dbgsym.txt"
elves=0
while IFS= read -r -d '' f; do
  description=$(file -b "$f")
  [[ $description == ELF* ]] || continue
  elves=$((elves + 1))
  [[ $description == *", stripped"* ]] || { echo "not stripped: ${f#"$work/deb"}" >&2; exit 1; }
  id=$(readelf -n "$f" | sed -n 's/^ *Build ID: //p')
  [[ -n $id ]] || { echo "no build id: ${f#"$work/deb"}" >&2; exit 1; }
  grep -qx "./usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" "$work/dbgsym.txt" ||
    { echo "no debug symbols for ${f#"$work/deb"} ($id)" >&2; exit 1; }
done < <(find "$work/deb" -type f -print0)
[[ $elves -ge 23 ]] || { echo "only $elves binaries in $deb" >&2; exit 1; }
echo "$elves binaries stripped, each with its debug file in $(basename "$dbgsym")"

echo "== install"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$deb" "$dev"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
grep -q '^application/x-vorlan-graph:\*\.gph$' /usr/share/mime/globs ||
  { echo "the MIME database does not know *.gph" >&2; exit 1; }
grep -q '^application/x-vorlan-graph+json:\*\.vgraph\.json$' /usr/share/mime/globs ||
  { echo "the MIME database does not know *.vgraph.json" >&2; exit 1; }
/usr/bin/python3 tests/docs/check_manual.py --source docs/manual.md \
  --html /usr/share/doc/vorlan/manual.html --pdf /usr/share/doc/vorlan/manual.pdf

echo "== as a user without privileges"
if ! id "$user" >/dev/null 2>&1; then
  "${sudo_cmd[@]}" useradd --no-create-home --home-dir /nonexistent --shell /bin/bash "$user"
  created_user=1
fi
home=$work/home
mkdir -p "$home"
cp tests/packaging/completion_test.sh "$home/"
image=$root/../shared/data/camera.bmp
if [[ -r $image ]]; then cp "$image" "$home/camera.bmp"; else python3 scripts/make_test_image.py "$home/camera.bmp"; fi
"${sudo_cmd[@]}" chown -R "$user" "$home"
chmod 755 "$work"
# shellcheck disable=SC2016 # the script expands in the user's shell
"${sudo_cmd[@]}" runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  MULTIARCH="$multiarch" bash -euo pipefail -c '
cd "$HOME"
vorlan --version
vorlan --list >list.txt
grep -q "HV encoder" list.txt
grep -qF "/usr/lib/$MULTIARCH/vorlan/filters (beside the program)" list.txt

# The examples as shipped, from a folder of the user: inputs from beside the
# graphs, outputs here.
mkdir run && cd run
examples=/usr/share/vorlan/examples
for graph in copy convert bmp_gray psnr view compress decompress compress_huffman decompress_huffman; do
  vorlan --run "$examples/$graph.gph" --quiet >"$graph.txt"
done
for output in copy.bmp output.bmp output.png gray.bmp image.hvf decoded.bmp; do
  [[ -s $output ]] || { echo "the examples wrote no $output here" >&2; exit 1; }
done
grep -q "^PSNR	" decompress_huffman.txt
# The same graphs on another picture, named on the command line.
vorlan --run "$examples/compress.gph" --quiet --path source=../camera.bmp --path target=camera.hvf
vorlan --run "$examples/decompress.gph" --quiet --path source=camera.hvf --path target=camera-decoded.bmp \
  --path original=../camera.bmp | tee values.txt
grep -q "^PSNR	" values.txt
[[ -s camera-decoded.bmp ]]

# The Python module from the system Python: a code and its picture, and the
# installed plug-ins behind them.
python3 -c "import numpy, vorlan
p = numpy.tile(numpy.arange(64, dtype=numpy.uint8) * 4, (48, 1))
c = vorlan.encode(p, ranges=40, threads=1)
assert vorlan.decode(c, dtype=numpy.uint8).shape == (48, 64)
assert any(f[\"name\"] == \"HV encoder\" for f in vorlan.filters())
assert vorlan.__file__.startswith(\"/usr/lib/python3/dist-packages/vorlan/\"), vorlan.__file__
print(\"vorlan module:\", len(c), \"bytes from\", vorlan.__file__)"

vorlan-demo | tee demo.txt
grep -q "PSNR" demo.txt

MANPAGER=cat MANWIDTH=80 man vorlan | grep "edit and run filter graphs" >/dev/null
MANPAGER=cat MANWIDTH=80 man vorlan-demo | grep "vorlan-demo" >/dev/null

# vorlan-sweep against JPEG on a crop of the picture: rows kept, resumed, reported.
python3 -c "from PIL import Image; Image.open(\"../camera.bmp\").crop((128, 128, 256, 256)).save(\"crop.png\")"
vorlan-sweep --images crop.png --rates 0.5,1 --codecs vorlan,jpeg --jobs 2 --report sweep-report --quiet
vorlan-sweep --images crop.png --rates 0.5,1 --codecs vorlan,jpeg --quiet 2>&1 | tee sweep.txt
grep -q "4 of 4 rows are already in sweep.sqlite" sweep.txt
grep -q "BD-rate" sweep-report/index.html
[[ -s sweep-report/picture-1.png ]]
MANPAGER=cat MANWIDTH=80 man vorlan-sweep | grep -- "--scheduler" >/dev/null
bash "$HOME/completion_test.sh" /usr/share/bash-completion/completions/vorlan /usr/bin/vorlan

# A plug-in of ones own, from the installed template, with its tests.
cp -r /usr/share/vorlan/plugin-template "$HOME/gain"
cmake -S "$HOME/gain" -B "$HOME/gain/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$HOME/gain/build" >/dev/null
ctest --test-dir "$HOME/gain/build" --output-on-failure | tail -n 3
ctest --test-dir "$HOME/gain/build" -N | grep gain_graph_run >/dev/null
'
echo "package: lintian-clean, installed and used from /usr by an unprivileged user"
