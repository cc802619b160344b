#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build natively, under
# AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer, the
# fuzz targets for a bounded time, then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for preset in linux asan tsan; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== fuzz"
bash scripts/fuzz.sh "${RINGWATCH_FUZZ_SECONDS:-60}"

echo "== windows"
cmake --preset windows
cmake --build --preset windows
source scripts/wine-env.sh
ctest --preset windows
