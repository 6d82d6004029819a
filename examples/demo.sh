#!/usr/bin/env bash
# Compresses a BMP with the fractal example graphs and decodes it again:
#   examples/demo.sh INPUT [OUTPUT.bmp] [--bpp TARGET]
# (INPUT is a BMP, or a PNG, JPEG, PGM/PPM, TIFF or WebP picture)
# prints the container size, bits per pixel, compression ratio against 8-bit
# grey, the PSNR of the decoded picture, both run times, and JPEG's PSNR at
# the nearest file size on the same grey picture. --bpp searches the number
# of ranges for a container near TARGET bits per pixel (a few encodes).
# VORLAN names the program (default build/release/vorlan beside this folder).
set -euo pipefail

usage() {
  echo "usage: $0 INPUT.bmp [OUTPUT.bmp] [--bpp TARGET]" >&2
  exit 2
}
files=()
extra=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --bpp)
      [[ $# -ge 2 ]] || usage
      extra+=(--bpp "$2")
      shift 2
      ;;
    -*) usage ;;
    *)
      files+=("$1")
      shift
      ;;
  esac
done
[[ ${#files[@]} -ge 1 && ${#files[@]} -le 2 ]] || usage
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export VORLAN=${VORLAN:-$here/../build/release/vorlan}
VORLAN=$(realpath "$VORLAN")
if [[ ! -x $VORLAN ]]; then
  echo "$0: $VORLAN is not built (cmake --preset release && cmake --build --preset release)" >&2
  exit 1
fi
[[ -f ${files[0]} ]] || { echo "$0: ${files[0]}: no such file" >&2; exit 1; }
input=$(realpath "${files[0]}")
if [[ ${#files[@]} -eq 2 ]]; then
  touch "${files[1]}"
  extra+=(--output "$(realpath "${files[1]}")")
fi
# A picture in another format (PNG, JPEG, PGM/PPM, TIFF, WebP) becomes a BMP
# first.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ $(head -c 2 "$input" | tr -d '\0') != BM ]]; then
  "$VORLAN" --run "$here/convert.gph" --quiet --path "source=$input" \
    --path "bmp=$work/input.bmp" --path "png=$work/input.png"
  input=$work/input.bmp
fi
python3 "$here/fractal_roundtrip.py" "$input" "${extra[@]}"
