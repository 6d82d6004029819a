#!/usr/bin/env bash
# The round-trip compression demo: installs what is needed, builds the
# release preset, then compresses a grey image with the HV fractal coder,
# decompresses it and reports size, rate, PSNR and times beside JPEG's PSNR
# at the same file size.
#   scripts/demo.sh [IMAGE.bmp] [--bpp TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
image=""
extra=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --bpp)
      [[ $# -ge 2 ]] || { echo "usage: $0 [IMAGE.bmp] [--bpp TARGET]" >&2; exit 2; }
      extra+=(--bpp "$2")
      shift 2
      ;;
    *)
      image=$1
      shift
      ;;
  esac
done
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j2
image="${image:-../shared/data/camera.bmp}"
if [ ! -f "$image" ]; then
  image=build/release/demo-input.bmp
  python3 scripts/make_test_image.py "$image"
fi
exec examples/demo.sh "$image" "${extra[@]}"
