#!/usr/bin/env bash
# Installs the Debian 12 packages Vorlan builds, tests and benchmarks with.
# Run as root (or with sudo available). Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation xvfb xauth
  libjpeg-turbo-progs python3
  qt6-image-formats-plugins
  python3-matplotlib python3-numpy python3-scipy python3-pytest
  python3-pil python3-skimage python3-distributed python3-tqdm
  libopenjp2-tools webp libavif-bin libjxl-tools
  dpkg-dev file pkgconf
  pandoc weasyprint qpdf poppler-utils
  help2man man-db bash-completion desktop-file-utils shared-mime-info
  lintian
  nlohmann-json3-dev
  pybind11-dev python3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
