#!/usr/bin/env bash
# Builds the benchmarks (the `bench` preset, Release) and measures, printing
# every figure beside its baseline from the same run:
#
#   micro     ringwatch_bench: a Connected pass against the stand-in against
#             the bare window read, decode and classify against a memcpy of
#             the window, the header search against memchr, and composing a
#             frame against the 1/60 s budget
#   scan      ringwatch_perf scan: the header scan of a stand-in holding 1 GiB
#             against bare reads of the same memory; then ringwatch itself
#             beside that stand-in: its resident memory before and during scans
#   cpu       ringwatch's CPU time over 60 s beside the stand-in playing a
#             level, at the default 5 Hz and with the game's debug flag set
#             (60 Hz), from /proc/PID/stat against the wall time; beside it
#             the floor of the tracker's cadence (a window read and a 6 ms
#             sleep per pass, nothing else) measured at the same time
#   sampling  ringwatch_perf sampling: a 10-minute play-through at 60 frames a
#             second, statistics against the script's and pass gaps against a frame;
#             the game frames no pass read, by ringwatch's own count (frames_unseen,
#             only while a game is tracked) beside the bench's from every decode;
#             beside it, at the same time, a second tracker whose sleeps end on
#             15.625 ms ticks as Windows' do by default (--tick): the frames it
#             misses are what the Windows build's high-resolution timer saves
#   real      the same against the real emulator, RetroArch with the Genesis
#             Plus GX core (scripts/build-core.sh) and the test cartridges: the
#             header scan of the RetroArch process against bare reads of the
#             same regions, ringwatch's CPU at 5 Hz against the floor, and the
#             sampling play-through (game frames no decode saw, by both counts,
#             target 0)
#
# Usage: scripts/perf.sh [micro] [scan] [cpu] [sampling] [real]    (all five by default)
# Environment: PERF_REPETITIONS (micro-benchmark repetitions, 5), PERF_RUNS
# (runs of each cpu figure, 2), PERF_MINUTES (sampling length, 10).
#
# The stand-in emulator runs as a process named retroarch.exe, RetroArch as
# retroarch, and ringwatch attaches to the first such process: nothing else
# may run one meanwhile (the end-to-end tests included).
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${PERF_REPETITIONS:-5}
runs=${PERF_RUNS:-2}
minutes=${PERF_MINUTES:-10}
build=build/bench
standin=$build/tools/standin/retroarch.exe
ringwatch=$build/ringwatch
socket="ringwatch-perf-$$"
work=$(mktemp -d)
standin_pid=""

cleanup() {
  tmux -L "$socket" kill-server >/dev/null 2>&1 || true
  if [ -n "$standin_pid" ]; then kill "$standin_pid" 2>/dev/null || true; wait "$standin_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

want() {
  [ ${#selected[@]} -eq 0 ] && return 0
  local item
  for item in "${selected[@]}"; do [ "$item" = "$1" ] && return 0; done
  return 1
}

no_other_emulator() {
  if pgrep -x retroarch >/dev/null || pgrep -x retroarch.exe >/dev/null; then
    echo "perf: another emulator (retroarch or retroarch.exe) is running; these measurements need the machine to themselves" >&2
    exit 2
  fi
}

# Starts the stand-in with the given arguments and waits for its "ready" line.
start_standin() {
  "$standin" "$@" >"$work/standin.out" 2>&1 &
  standin_pid=$!
  for _ in $(seq 1 200); do
    grep -q '^ready' "$work/standin.out" && return 0
    sleep 0.1
  done
  echo "perf: the stand-in did not start: $(cat "$work/standin.out")" >&2
  exit 2
}

stop_standin() {
  kill "$standin_pid" 2>/dev/null || true
  wait "$standin_pid" 2>/dev/null || true
  standin_pid=""
}

# RetroArch playing a scenario's test cartridge, in the stand-in's place: it
# ends when ringwatch_perf does (stop_standin).
start_retroarch() {
  "$build/bench/ringwatch_perf" retroarch "$@" >"$work/standin.out" 2>&1 &
  standin_pid=$!
  for _ in $(seq 1 300); do
    grep -q '^ready' "$work/standin.out" && return 0
    kill -0 "$standin_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "perf: RetroArch did not start: $(cat "$work/standin.out")" >&2
  exit 2
}

# Runs ringwatch in a detached 200x60 tmux pane; prints its process id.
start_ringwatch() {
  tmux -L "$socket" new-session -d -s perf -x 200 -y 60 "exec $ringwatch"
  tmux -L "$socket" list-panes -t perf -F '#{pane_pid}'
}

stop_ringwatch() { tmux -L "$socket" kill-server >/dev/null 2>&1 || true; }

# The pane's text matches the extended regular expression.
screen_shows() { tmux -L "$socket" capture-pane -p -t perf | grep -q -E -- "$1"; }

# user + system clock ticks of all the process's threads (fields 14 and 15).
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

status_kib() { awk -v field="$2:" '$1 == field { print $2 }' "/proc/$1/status"; }

# One CPU figure: ringwatch's CPU time over 60 s beside the emulator already
# started, against the floor measured at the same time.
#   measure_cpu RUN LABEL TARGET-PERCENT SCREEN-REGEX
measure_cpu() {
  local run=$1 mode=$2 target=$3 expect=$4
  local ticks_per_second pid floor_pid ticks0 ticks1 wall0 wall1 floor
  ticks_per_second=$(getconf CLK_TCK)
  pid=$(start_ringwatch)
  for _ in $(seq 1 50); do screen_shows "$expect" && break; sleep 0.2; done
  screen_shows "$expect" || { echo "perf: ringwatch did not show \"$expect\"" >&2; exit 2; }
  sleep 2
  "$build/bench/ringwatch_perf" floor --seconds 60 >"$work/floor.out" 2>&1 &
  floor_pid=$!
  ticks0=$(cpu_ticks "$pid"); wall0=$(cut -d' ' -f1 /proc/uptime)
  sleep 60
  ticks1=$(cpu_ticks "$pid"); wall1=$(cut -d' ' -f1 /proc/uptime)
  wait "$floor_pid" || { echo "perf: $(cat "$work/floor.out")" >&2; exit 2; }
  screen_shows "$expect" || { echo "perf: ringwatch lost the game meanwhile" >&2; exit 2; }
  stop_ringwatch
  floor=$(sed -n 's/.*: \([0-9.]*\)% of one core.*/\1/p' "$work/floor.out")
  awk -v t="$((ticks1 - ticks0))" -v hz="$ticks_per_second" -v w0="$wall0" -v w1="$wall1" -v mode="$mode" \
    -v target="$target" -v run="$run" -v floor="$floor" 'BEGIN {
    share = t / hz / (w1 - w0) * 100
    printf "run %d, %-7s (%s): %.2f s of CPU in %.1f s: %.3f%% of one core, floor %.3f%%: %.2fx the floor; target <= %d%%: %s\n",
      run, mode, mode == "debug" ? "60 Hz" : "5 Hz", t / hz, w1 - w0, share, floor, share / floor, target,
      share <= target ? "met" : "MISSED" }'
}

selected=("$@")
for item in "${selected[@]}"; do
  case "$item" in
    micro | scan | cpu | sampling | real) ;;
    *) echo "usage: scripts/perf.sh [micro] [scan] [cpu] [sampling] [real]" >&2; exit 2 ;;
  esac
done

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"

if want micro; then
  no_other_emulator
  echo
  echo "== micro-benchmarks ($repetitions repetitions, interleaved)"
  "$build/bench/ringwatch_bench" --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
    --benchmark_counters_tabular=true
  # glibc copies 24 KiB with `rep movsb`, which some virtual machines run far
  # slower than vector copies: the decode against a vector memcpy too.
  echo
  echo "-- item 2 again, memcpy with vector copies (glibc.cpu.x86_rep_movsb_threshold raised)"
  GLIBC_TUNABLES=glibc.cpu.x86_rep_movsb_threshold=4194304 "$build/bench/ringwatch_bench" \
    --benchmark_filter='DecodeAndClassify|MemcpyWindow' --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true |
    sed -n '/^figure/,$p'
fi

if want scan; then
  no_other_emulator
  echo
  echo "== header scan"
  "$build/bench/ringwatch_perf" scan --ballast-mib 1024 --repeat 3 || true
  echo
  echo "-- ringwatch beside the stand-in in the menu with 1 GiB (a scan every pass)"
  pid=$(start_ringwatch)
  sleep 3
  idle=$(status_kib "$pid" VmRSS)
  start_standin --mode menu --ballast-mib 1024
  for _ in $(seq 1 100); do screen_shows "checksum routine was incorrect" && break; sleep 0.2; done
  screen_shows "checksum routine was incorrect" || { echo "perf: ringwatch did not scan the stand-in" >&2; exit 2; }
  sleep 8   # two or three scans more
  peak=$(status_kib "$pid" VmHWM)
  stop_ringwatch
  stop_standin
  awk -v idle="$idle" -v peak="$peak" 'BEGIN {
    printf "resident before any scan %.1f MiB, peak while scanning %.1f MiB: +%.1f MiB, %.3fx the 60 MiB scan buffer: %s\n",
      idle / 1024, peak / 1024, (peak - idle) / 1024, (peak - idle) / 1024 / 60, (peak - idle) <= 60 * 1024 ? "met" : "MISSED" }'
fi

if want cpu; then
  no_other_emulator
  echo
  echo "== whole process: ringwatch's CPU time over 60 s beside the stand-in playing a level ($runs runs each)"
  echo "   baseline, at the same time: ringwatch_perf floor, one window read and a 6 ms sleep per pass and nothing else"
  printf 'set debug=1\n' | cat - bench/scenarios/level_loop.txt >"$work/level_debug.txt"
  for run in $(seq 1 "$runs"); do
    for mode in default debug; do
      # The status line stands only while the game is tracked.
      scenario=bench/scenarios/level_loop.txt target=1 expect="^(Tracking active|Ready to track|Game End)"
      [ "$mode" = debug ] && scenario=$work/level_debug.txt target=3 expect="Debug Enabled"
      start_standin --loop "$scenario"
      measure_cpu "$run" "$mode" "$target" "$expect"
      stop_standin
    done
  done
fi

if want sampling; then
  no_other_emulator
  echo
  echo "== sampling ($minutes minutes)"
  "$build/bench/ringwatch_perf" sampling --minutes "$minutes" --tick || true
fi

if want real; then
  bash scripts/build-core.sh
  no_other_emulator
  echo
  echo "== real emulator: RetroArch with the Genesis Plus GX core, headless"
  "$build/bench/ringwatch_perf" real-scan --repeat 5 || true
  echo
  echo "-- ringwatch's CPU time over 60 s beside RetroArch playing a level ($runs runs), the floor at the same time"
  for run in $(seq 1 "$runs"); do
    start_retroarch bench/scenarios/level_loop.txt --passes 2
    measure_cpu "$run" default 1 "^(Tracking active|Ready to track|Game End)"
    stop_standin
  done
  echo
  echo "-- sampling ($minutes minutes) in RetroArch"
  "$build/bench/ringwatch_perf" sampling --real --minutes "$minutes" || true
fi
