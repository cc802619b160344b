#!/usr/bin/env bash
# Builds one test cartridge: the frame stream of a scenario, then the 68000
# program around it. The say lines' table lands beside the ROM (NAME.says).
#
#   build.sh [--other] [--passes N] [--fps N] STREAM_TOOL SCENARIO|none OUTPUT.md
#
# --other: another game's header, and no RAM signature; --passes N: the
# scenario N times over, as the stand-in's --loop plays it; --fps N: N frames
# a second in place of the scenario's own, as the stand-in's --fps.
#
# STREAM_TOOL is the built testrom_stream; M68K_PREFIX names the Debian tools
# (m68k-linux-gnu- by default).
set -euo pipefail

stream_flags=() as_flags=()
while [ $# -gt 3 ]; do
  case $1 in
    --other) stream_flags+=(--other) as_flags=(--defsym OTHER_CARTRIDGE=1); shift ;;
    --passes) stream_flags+=(--passes "$2"); shift 2 ;;
    --fps) stream_flags+=(--fps "$2"); shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 3 ] || { echo "usage: build.sh [--other] [--passes N] [--fps N] STREAM_TOOL SCENARIO|none OUTPUT.md" >&2; exit 2; }
tool=$1 scenario=$2 output=$3
prefix=${M68K_PREFIX:-m68k-linux-gnu-}
here=$(cd "$(dirname "$0")" && pwd)
work=$output.d
mkdir -p "$work"

scenario_args=()
[ "$scenario" = none ] || scenario_args=("$scenario")
"$tool" "${stream_flags[@]}" --says "${output%.md}.says" "${scenario_args[@]}" "$work/stream.bin"
"${prefix}as" -m68000 -I "$work" "${as_flags[@]}" -o "$work/cartridge.o" "$here/cartridge.s"
"${prefix}ld" -T "$here/cartridge.ld" -o "$work/cartridge.elf" "$work/cartridge.o"
"${prefix}objcopy" -O binary "$work/cartridge.elf" "$output"
