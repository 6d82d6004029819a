#!/usr/bin/env bash
# Installs what is needed, builds the release preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j2
ctest --preset release
