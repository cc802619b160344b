#!/usr/bin/env bash
# Runs a GoogleTest program in a detached tmux pane, so that it has a terminal
# (under Wine: a console), and reports its result: the exit status, and the
# failures from its XML report.
# Usage: run_in_tmux.sh COLUMNS ROWS PROGRAM [ARGS...]   (PROGRAM may be "wine x.exe")
set -u
columns=$1
rows=$2
shift 2
socket="ringwatch-console-$$"
# In the working directory: a relative path means the same file to a Windows
# program under Wine and to this script.
results=$(mktemp -d ./ringwatch-console.XXXXXX)
cleanup() {
  tmux -L "$socket" kill-server >/dev/null 2>&1 || true
  rm -rf "$results"
}
trap cleanup EXIT

# The pane's shell gets the words quoted: a path may hold blanks.
printf -v program '%q ' "$@"
tmux -L "$socket" new-session -d -s run -x "$columns" -y "$rows" \
  "$program--gtest_output=xml:$results/report.xml; echo \$? >$results/status.part; mv $results/status.part $results/status"

for _ in $(seq 1 240); do
  [ -f "$results/status" ] && break
  sleep 0.25
done
if [ ! -f "$results/status" ]; then
  echo "the program did not finish within 60 s; its pane:"
  tmux -L "$socket" capture-pane -p -t run
  exit 1
fi
status=$(cat "$results/status")
if [ -f "$results/report.xml" ]; then
  grep -o 'testcase name="[^"]*"[^>]*' "$results/report.xml" | sed 's/^testcase name="\([^"]*\)".*status="\([^"]*\)".*result="\([^"]*\)".*/\1: \2, \3/'
  grep -A3 '<failure' "$results/report.xml" | sed 's/&quot;/"/g; s/&#x0A;/\n/g; s/&lt;/</g; s/&gt;/>/g'
else
  echo "no report: the program did not run its tests (exit status $status)"
  exit 1
fi
exit "$status"
