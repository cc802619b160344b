#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time (seconds,
# default 60) from the seed corpus in the repository. Any finding fails the
# run; the crashing input is left in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mkdir -p build/fuzz/findings
# The targets run side by side, one a core, each for the whole time given.
run_target() {  # run_target TARGET: its log in build/fuzz/TARGET.log
  local target=$1 binary="build/fuzz/tests/fuzz/$1" seeds="tests/fuzz/corpus/${1#fuzz_}" work status=0
  work=$(mktemp -d)
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix=build/fuzz/findings/"$target"- -print_final_stats=1 "$work" "$seeds" \
    > "build/fuzz/$target.log" 2>&1 || status=$?
  rm -rf "$work"
  return $status
}
targets=()
pids=()
for target in fuzz_command_line fuzz_tracker fuzz_stream_wire; do
  [ -x "build/fuzz/tests/fuzz/$target" ] || continue
  echo "== $target for ${seconds}s"
  run_target "$target" &
  targets+=("$target")
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if ! wait "${pids[$i]}"; then
    echo "$target: FINDING (see build/fuzz/$target.log and build/fuzz/findings/)"
    tail -40 "build/fuzz/$target.log"
    status=1
  else
    echo "$target:"
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "build/fuzz/$target.log" || true
  fi
done
exit $status
