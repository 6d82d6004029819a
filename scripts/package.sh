#!/usr/bin/env bash
# Builds the Debian packages of the release preset:
#   build/release/vorlan_<version>_amd64.deb      program, plug-ins, manual
#   build/release/vorlan-dev_<version>_amd64.deb  plug-in SDK
# Prints the paths of the two packages.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j2
(cd build/release && cpack -G DEB >/dev/null)
ls "$PWD"/build/release/vorlan_*_amd64.deb "$PWD"/build/release/vorlan-dev_*_amd64.deb
