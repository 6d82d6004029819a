#!/usr/bin/env bash
# Builds the Debian packages, installs them on this machine with apt-get
# and runs the installed program: --version, --list and the demo graphs.
# Needs root or sudo; the packages stay installed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
built=$(mktemp)
scripts/package.sh >"$built"
mapfile -t debs < <(tail -n 2 "$built")
rm -f "$built"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${debs[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
/usr/bin/vorlan --version
/usr/bin/vorlan --list | tee list.txt
grep -q 'HV encoder' list.txt
grep -q '/usr/libexec/vorlan/filters (beside the program)' list.txt

image=$root/../shared/data/camera.bmp
[[ -f $image ]] || { image=$work/input.bmp; python3 "$root/scripts/make_test_image.py" "$image"; }
# The demo's compression round trip, with the installed graphs.
examples=/usr/share/vorlan/examples
/usr/bin/vorlan --run "$examples/compress.gph" --quiet --path "source=$image" --path "target=$work/image.hvf"
/usr/bin/vorlan --run "$examples/decompress.gph" --quiet --path "source=$work/image.hvf" \
  --path "target=$work/decoded.bmp" --path "original=$image" | tee values.txt
grep -q '^PSNR	' values.txt
[[ -s $work/decoded.bmp ]]
echo "package: installed and run"
