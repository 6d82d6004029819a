#!/usr/bin/env bash
# The round-trip compression demo: installs what is needed, builds the
# release preset, then compresses a picture with the HV fractal coder (grey,
# or in colour with --colour), decompresses it and reports size, rate, PSNR
# and times beside JPEG's PSNR at the same file size.
#   scripts/demo.sh [PICTURE] [--bpp TARGET] [--colour] [--output FILE] [--json]
set -euo pipefail
cd "$(dirname "$0")/.."
image=""
extra=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --bpp | --output)
      [[ $# -ge 2 ]] || { echo "usage: $0 [PICTURE] [--bpp TARGET] [--colour] [--output FILE] [--json]" >&2; exit 2; }
      extra+=("$1" "$2")
      shift 2
      ;;
    --colour | --color | --json)
      extra+=("$1")
      shift
      ;;
    *)
      image=$1
      shift
      ;;
  esac
done
# With --json only the JSON object goes to standard output.
setup() {
  scripts/install-deps.sh
  cmake --preset release >/dev/null
  cmake --build --preset release -j2
}
if [[ " ${extra[*]-} " == *" --json "* ]]; then setup >&2; else setup; fi
image="${image:-../shared/data/camera.bmp}"
if [ ! -f "$image" ]; then
  image=build/release/demo-input.bmp
  python3 scripts/make_test_image.py "$image"
fi
exec examples/demo.sh "$image" "${extra[@]}"
