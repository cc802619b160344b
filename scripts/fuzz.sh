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
status=0
for target in fuzz_command_line fuzz_tracker; do
  binary="build/fuzz/tests/fuzz/$target"
  [ -x "$binary" ] || continue
  seeds="tests/fuzz/corpus/${target#fuzz_}"
  work=$(mktemp -d)
  echo "== $target for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix=build/fuzz/findings/"$target"- -print_final_stats=1 "$work" "$seeds" \
      > "build/fuzz/$target.log" 2>&1; then
    echo "$target: FINDING (see build/fuzz/$target.log and build/fuzz/findings/)"
    tail -40 "build/fuzz/$target.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "build/fuzz/$target.log" || true
  fi
  rm -rf "$work"
done
exit $status
