#!/usr/bin/env bash
# The round-trip compression demo: installs what is needed, builds the
# release preset, then compresses a grey image with the HV fractal coder,
# decompresses it and reports size, rate, PSNR and times.
#   scripts/demo.sh [IMAGE.bmp]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j2
image="${1:-../shared/data/camera.bmp}"
if [ ! -f "$image" ]; then
  image=build/release/demo-input.bmp
  python3 scripts/make_test_image.py "$image"
fi
exec examples/demo.sh "$image"
