#!/usr/bin/env bash
# Figures of the Windows build under Wine against the real core (not tests;
# nothing asserts a time): the header scan of the frontend's process against
# bare reads of the same regions, and the game frames that no decode saw over
# a play-through at 60 frames a second (target 0), by ringwatch's own count
# (only while a game is tracked) and by the figures program's from every
# decode, with the pass period's median and 99th percentile.
#
# Usage: scripts/wine-figures.sh [scan] [sampling]    (both by default)
# Environment: WINE_FIGURES_PASSES (passes of the sample scenario in the
# sampling cartridge, 5: about 2 minutes each), RINGWATCH_CORE_TARBALL (the core's
# source, see scripts/build-core.sh).
#
# The frontend runs as retroarch.exe: nothing else may run one meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."

want() {
  [ $# -eq 0 ] && return 0
  local name=$1
  shift
  for arg in "$@"; do [ "$arg" = "$name" ] && return 0; done
  return 1
}

bash scripts/setup.sh test
bash scripts/build-core.sh windows
[ -f build/core/windows/genesis_plus_gx_libretro.dll ] || { echo "wine-figures: no core built" >&2; exit 2; }
cmake --preset linux >/dev/null
cmake --build --preset linux --target testroms testrom_stream
cmake --preset windows >/dev/null
cmake --build --preset windows --target frontend ringwatch_wine_figures

roms=build/linux/tools/testrom
figures=build/windows/tests/ringwatch_wine_figures.exe
source scripts/wine-env.sh

if want scan "$@"; then
  echo "== header scan"
  wine "$figures" scan "$roms/other.md" --repeat 5
fi

if want sampling "$@"; then
  echo "== sampling"
  passes=${WINE_FIGURES_PASSES:-5}
  mkdir -p build/wine-figures
  cartridge=build/wine-figures/sampling.md
  bash tools/testrom/build.sh --passes "$passes" "$roms/testrom_stream" tools/standin/scenarios/sample.txt "$cartridge"
  frames=$(sed -n 's/^# the stream ends after vertical blank \([0-9]*\).*/\1/p' "${cartridge%.md}.says")
  wine "$figures" sampling "$cartridge" "$frames"
fi
