#!/usr/bin/env bash
# Runs the program in a detached 120x40 tmux pane and checks what the screen
# shows: a log line on the top row (a console that scrolls when the grid's last
# cell is written loses it), newest message first.
# Usage: screen_in_tmux.sh PROGRAM [ARGS...]   (PROGRAM may be "wine x.exe")
set -u
socket="ringwatch-screen-$$"
session="screen"
cleanup() { tmux -L "$socket" kill-server >/dev/null 2>&1 || true; }
trap cleanup EXIT

# The pane's shell gets the words quoted: a path may hold blanks.
printf -v program '%q ' "$@"
tmux -L "$socket" new-session -d -s "$session" -x 120 -y 40 "$program-refresh 1001; sleep 60"

expected_top="[002 - 00:00:00.000] Using default refresh rate of 5Hz"
expected_second="[001 - 00:00:00.000] Given value '1001' was parsed to 1001."
# The tracker thread's messages (no emulator running) come in between; they
# are newer than the start-up messages, so they stand above them.
stamp() { printf '%s\n' "$1" | sed -n 's/^\[[0-9]\{3\} - \([0-9:.]\{12\}\)\].*/\1/p'; }
for _ in $(seq 1 60); do
  sleep 0.5
  screen=$(tmux -L "$socket" capture-pane -p -t "$session")
  row=$(printf '%s\n' "$screen" | grep -n -F -- "$expected_top" | head -1 | cut -d: -f1)
  [ -n "$row" ] || continue
  second=$(printf '%s\n' "$screen" | sed -n "$((row + 1))p")
  [[ "$second" == "$expected_second"* ]] || continue
  top=$(printf '%s\n' "$screen" | sed -n 1p)
  top_stamp=$(stamp "$top")
  [ -n "$top_stamp" ] || continue
  newest=$(printf '%s\n' "$screen" | sed -n 's/^\[[0-9]\{3\} - \([0-9:.]\{12\}\)\].*/\1/p' | sort | tail -1)
  if [ "$top_stamp" = "$newest" ]; then
    echo "top row holds the newest message, the older ones below it"
    exit 0
  fi
done
echo "screen did not show the expected rows; last capture:"
printf '%s\n' "$screen" | head -5
exit 1
