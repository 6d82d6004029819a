#!/usr/bin/env bash
# Compresses a picture with the fractal example graphs and decodes it again:
#   examples/demo.sh [INPUT] [OUTPUT] [--bpp TARGET] [--colour] [--output FILE] [--json]
# Installed as vorlan-demo. VORLAN names the program (default: the vorlan
# installed beside vorlan-demo, or build/release/vorlan of the source tree).
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: vorlan-demo [INPUT] [OUTPUT] [--bpp TARGET] [--colour] [--output FILE] [--json]
Compresses a picture with Vorlan's fractal example graphs (HV encoder and the
packed code container), decodes it again, and prints the container size, bits
per pixel, compression ratio, the PSNR of the decoded picture (as written, 8
bits a sample), both run times, and the PSNR of JPEG at the nearest file size.

In grey (the default) the picture is reduced to its Y and compared with
cjpeg -grayscale on the same grey picture. With --colour, Y, Cb and Cr are
coded (Cb and Cr at half size), the decoded picture is a PNG, and the PSNR
over R, G and B and that of Y are compared with colour JPEG's (cjpeg
-optimize, its default 4:2:0).

INPUT is a BMP, PNG, JPEG, PGM/PPM, TIFF or WebP picture; without one, the
small picture shipped with the examples is used. Nothing is written but
OUTPUT, the decoded picture, when it is given.

Options:
  --bpp TARGET   search the number of ranges for a container near TARGET bits
                 per pixel first (a few encodes); in colour the ranges are
                 split between the planes where they lower the error most
  --colour       code the picture in colour
  --output FILE  keep the decoded picture (BMP in grey, PNG in colour)
  --json         print one JSON object (bytes, bpp, the PSNR figures, JPEG's)
  -h, --help     print this help and exit

Environment:
  VORLAN        the vorlan program to run
TEXT
}

files=()
extra=()
colour=0
output=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --bpp)
      [[ $# -ge 2 ]] || { usage >&2; exit 2; }
      extra+=(--bpp "$2")
      shift 2
      ;;
    --output)
      [[ $# -ge 2 ]] || { usage >&2; exit 2; }
      output=$2
      shift 2
      ;;
    --colour | --color)
      colour=1
      shift
      ;;
    --json)
      extra+=(--json)
      shift
      ;;
    -h | --help)
      usage
      exit 0
      ;;
    -*)
      echo "vorlan-demo: unknown option '$1'" >&2
      echo "Try 'vorlan-demo --help' for more information." >&2
      exit 2
      ;;
    *)
      files+=("$1")
      shift
      ;;
  esac
done
[[ ${#files[@]} -le 2 ]] || { usage >&2; exit 2; }
# Installed, this script is reached through the link bin/vorlan-demo: the
# examples are beside the script, the program beside the link.
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
[[ ${#files[@]} -ge 1 ]] || files=("$here/input.bmp")
if [[ -z ${VORLAN:-} ]]; then
  VORLAN=$here/../build/release/vorlan
  [[ -x $VORLAN ]] || VORLAN=$(dirname "${BASH_SOURCE[0]}")/vorlan
fi
VORLAN=$(realpath "$VORLAN")
export VORLAN
if [[ ! -x $VORLAN ]]; then
  echo "$0: $VORLAN is not built (cmake --preset release && cmake --build --preset release)" >&2
  exit 1
fi
[[ -f ${files[0]} ]] || { echo "$0: ${files[0]}: no such file" >&2; exit 1; }
input=$(realpath "${files[0]}")
if [[ ${#files[@]} -eq 2 ]]; then
  [[ -z $output ]] || { echo "vorlan-demo: OUTPUT given twice" >&2; exit 2; }
  output=${files[1]}
fi
if [[ -n $output ]]; then
  touch "$output"
  extra+=(--output "$(realpath "$output")")
fi
if [[ $colour -eq 1 ]]; then
  exec python3 "$here/colour_roundtrip.py" "$input" "${extra[@]}"
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
