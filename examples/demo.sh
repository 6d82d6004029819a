#!/usr/bin/env bash
# Compresses a BMP with the fractal example graphs and decodes it again:
#   examples/demo.sh INPUT.bmp [OUTPUT.bmp]
# prints the container size, bits per pixel, compression ratio against 8-bit
# grey, the PSNR of the decoded picture and both run times. VORLAN names the
# program (default build/release/vorlan beside this folder).
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: $0 INPUT.bmp [OUTPUT.bmp]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
vorlan=${VORLAN:-$here/../build/release/vorlan}
if [[ ! -x $vorlan ]]; then
  echo "$0: $vorlan is not built (cmake --preset release && cmake --build --preset release)" >&2
  exit 1
fi
vorlan=$(realpath "$vorlan")
input=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ $# -eq 2 ]]; then
  touch "$2"
  output=$(realpath "$2")
else
  output=$work/decoded.bmp
fi
cd "$work"
# A picture in another format (PNG, JPEG, PGM/PPM, TIFF, WebP) becomes a BMP first.
if [[ $(head -c 2 "$input" | tr -d '\0') != BM ]]; then
  "$vorlan" --run "$here/convert.gph" --quiet --path "source=$input" --path "bmp=$work/input.bmp" \
    --path "png=$work/input.png"
  input=$work/input.bmp
fi
container=$work/image.hvf

now() { date +%s.%N; }

t0=$(now)
"$vorlan" --run "$here/compress.gph" --quiet --path "source=$input" --path "target=$container"
t1=$(now)
"$vorlan" --run "$here/decompress.gph" --quiet --path "source=$container" --path "target=$output" \
  --path "original=$input" >"$work/values.txt"
t2=$(now)

python3 - "$input" "$container" "$work/values.txt" "$t0" "$t1" "$t2" "$output" "$(( $# == 2 ))" <<'PY'
import struct
import sys

bmp, container, values, t0, t1, t2, output, output_kept = sys.argv[1:]
with open(bmp, 'rb') as f:
    header = f.read(26)
width, height = struct.unpack('<ii', header[18:26])
pixels = width * abs(height)
size = len(open(container, 'rb').read())
shown = {}
for line in open(values):
    parts = line.rstrip('\n').split('\t')
    if len(parts) >= 2:
        shown[parts[0]] = parts[1]
psnr = float(shown.get('PSNR', 'nan'))
print(f'image            {width} x {abs(height)} ({pixels} pixels)')
print(f'compressed size  {size} bytes')
print(f'bits per pixel   {size * 8 / pixels:.4f}')
print(f'ratio            {pixels / size:.2f} : 1 (against 8-bit grey)')
print(f'PSNR             {psnr:.2f} dB' if psnr > 0 else f'PSNR             {shown.get("PSNR")}')
print(f'RMS              {shown.get("RMS")} (of the [0, 1] grey range)')
print(f'compress time    {float(t1) - float(t0):.2f} s')
print(f'decompress time  {float(t2) - float(t1):.2f} s')
if output_kept == '1':
    print(f'decoded picture  {output}')
PY
