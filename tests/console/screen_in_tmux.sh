#!/usr/bin/env bash
# Runs the program in a detached 120x40 tmux pane and checks what the screen
# shows: the first log line on the top row (a console that scrolls when the
# grid's last cell is written loses it), newest message first.
# Usage: screen_in_tmux.sh PROGRAM [ARGS...]   (PROGRAM may be "wine x.exe")
set -u
socket="ringwatch-screen-$$"
session="screen"
cleanup() { tmux -L "$socket" kill-server >/dev/null 2>&1 || true; }
trap cleanup EXIT

tmux -L "$socket" new-session -d -s "$session" -x 120 -y 40 "$* -refresh 1001; sleep 60"

expected_top="[002 - 00:00:00.000] Using default refresh rate of 5Hz"
expected_second="[001 - 00:00:00.000] Given value '1001' was parsed to 1001."
for _ in $(seq 1 60); do
  sleep 0.5
  screen=$(tmux -L "$socket" capture-pane -p -t "$session")
  top=$(printf '%s\n' "$screen" | sed -n 1p)
  second=$(printf '%s\n' "$screen" | sed -n 2p)
  if [[ "$top" == "$expected_top"* ]]; then
    if [[ "$second" == "$expected_second"* ]]; then
      echo "top row holds the newest message, the older one below it"
      exit 0
    fi
  fi
done
echo "screen did not show the expected rows; last capture:"
printf '%s\n' "$screen" | head -5
exit 1
