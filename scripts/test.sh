#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build natively, then the
# Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset linux
cmake --build --preset linux
ctest --preset linux

cmake --preset windows
cmake --build --preset windows
source scripts/wine-env.sh
ctest --preset windows
