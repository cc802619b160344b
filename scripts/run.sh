#!/usr/bin/env bash
# Sets up, builds and runs ringwatch in this terminal. When no emulator is
# running (RetroArch natively or under Wine), the bundled stand-in emulator
# plays the sample play-through beside it and is stopped when ringwatch ends.
# Only the program and the stand-in are built (the demo preset): no test, no
# emulator core.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >&2
cmake --preset demo >/dev/null
cmake --build --preset demo >/dev/null

standin=build/demo/tools/standin/retroarch.exe
scenario=tools/standin/scenarios/sample.txt
standin_pid=""
# Any emulator Ringwatch looks for (emulator/emulator_table.h) counts.
running() {
  local name
  for name in retroarch retroarch.exe blastem blastem.exe EmuHawk.exe Fusion.exe; do
    pgrep -x "$name" >/dev/null 2>&1 && return 0
  done
  return 1
}
if ! running && [ -x "$standin" ] && [ -f "$scenario" ]; then
  "$standin" --loop "$scenario" >/dev/null 2>&1 &
  standin_pid=$!
  trap 'kill "$standin_pid" 2>/dev/null || true' EXIT
fi

build/demo/ringwatch "$@" || true
