#!/usr/bin/env bash
# Soak test, not part of CI: ringwatch in a tmux terminal beside the stand-in
# emulator looping the sample play-through, for SECONDS (default one hour).
# Samples the program's resident memory, open descriptors, threads and CPU
# time after a warm-up and then every minute, and reports the first and the
# last sample. Fails if the program ended, or if its descriptors grew.
#
# Usage: scripts/soak.sh [SECONDS] [PRESET]      (PRESET: linux, asan, tsan)
# Needs the machine to itself: no other retroarch.exe may run meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-3600}"
preset="${2:-linux}"
interval=60
warmup=30

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
standin="build/$preset/tools/standin/retroarch.exe"
program="$(pwd)/build/$preset/ringwatch"
scenario=tools/standin/scenarios/sample.txt

if pgrep -x retroarch.exe >/dev/null; then
  echo "another retroarch.exe is running; the soak needs the machine to itself" >&2
  exit 1
fi

socket="ringwatch-soak-$$"
"$standin" --loop "$scenario" >/dev/null &
standin_pid=$!
cleanup() {
  tmux -L "$socket" kill-server >/dev/null 2>&1 || true
  kill "$standin_pid" 2>/dev/null || true
  wait "$standin_pid" 2>/dev/null || true
}
trap cleanup EXIT

tmux -L "$socket" new-session -d -s soak -x 120 -y 50 "exec '$program'"
pid="$(tmux -L "$socket" list-panes -t soak -F '#{pane_pid}')"
ticks_per_second="$(getconf CLK_TCK)"

# One sample: seconds since start, resident KiB, descriptors, threads, CPU seconds.
sample() {
  local now rss fds threads cpu
  now=$(($(date +%s) - started))
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
  fds=$(ls "/proc/$pid/fd" | wc -l)
  # utime and stime: fields 14 and 15 of stat, counted after the command name.
  cpu=$(sed 's/^.*) //' "/proc/$pid/stat" | awk -v hz="$ticks_per_second" '{printf "%.2f", ($12 + $13) / hz}')
  echo "$now $rss $fds $threads $cpu"
}

started=$(date +%s)
sleep "$warmup"
kill -0 "$pid" 2>/dev/null || { echo "ringwatch ended during the warm-up" >&2; exit 1; }
first=$(sample)
echo "# seconds resident_kib descriptors threads cpu_seconds"
echo "$first"
last="$first"
max_rss=$(echo "$first" | awk '{print $2}')
deadline=$((started + seconds))
while [ "$(date +%s)" -lt "$deadline" ]; do
  left=$((deadline - $(date +%s)))
  sleep $((left < interval ? left : interval))
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "ringwatch ended after $(($(date +%s) - started)) s" >&2
    exit 1
  fi
  last=$(sample)
  echo "$last"
  rss=$(echo "$last" | awk '{print $2}')
  [ "$rss" -gt "$max_rss" ] && max_rss=$rss
done

echo "# screen at the end:"
tmux -L "$socket" capture-pane -p -t soak | head -12
read -r t0 rss0 fds0 threads0 cpu0 <<<"$first"
read -r t1 rss1 fds1 threads1 cpu1 <<<"$last"
cpu_percent=$(awk -v a="$cpu0" -v b="$cpu1" -v t0="$t0" -v t1="$t1" 'BEGIN {printf "%.2f", (b - a) * 100 / (t1 - t0)}')
echo "# soak of $seconds s ($preset): sampled from $t0 s to $t1 s"
echo "# resident: $rss0 KiB at the start, $rss1 KiB at the end, $max_rss KiB at most"
echo "# descriptors: $fds0 at the start, $fds1 at the end; threads: $threads0, $threads1"
echo "# CPU: $cpu0 s at the start, $cpu1 s at the end: $cpu_percent% of one core in between"
[ "$fds1" -le "$fds0" ] || { echo "descriptors grew" >&2; exit 1; }
