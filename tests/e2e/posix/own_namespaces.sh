#!/usr/bin/env bash
# Runs a test so that it sees only the processes it starts, for the tests to
# run side by side: Ringwatch looks for the emulator by name among all
# processes.
#
# On Linux the test runs in its own PID and mount namespaces: its own /proc,
# and a fresh tmpfs of its own for its temporary folders (TMPDIR), tmux's
# sockets (TMUX_TMPDIR) and its history folder (XDG_DATA_HOME). The tmpfs goes
# over /tmp, or over /dev/shm when /tmp holds the checkout, the working folder
# or a file the command names: mounted over them it would hide them. When the
# test's process ends, every process it left behind ends with it.
#
# Under Wine (--wine) the processes a program sees are those of its
# wineserver, one per prefix: the test runs in a prefix of its own, a copy of
# $WINEPREFIX made of hard links (new files only are written: the wineserver
# replaces its registry files whole), ended and removed afterwards.
#
#   own_namespaces.sh --check         exit status 0 where namespaces can be made
#   own_namespaces.sh COMMAND [ARG...]
#   own_namespaces.sh --wine COMMAND [ARG...]

# The folder to mount the tmpfs over: the first of /tmp and /dev/shm that
# holds none of the paths given.
private_folder() {
  local folder path
  for folder in /tmp /dev/shm; do
    for path in "$@"; do
      [ -e "$path" ] || continue
      path=$(readlink -f -- "$path")
      case "$path/" in "$folder"/*) continue 2 ;; esac
    done
    [ -d "$folder" ] && echo "$folder" && return 0
  done
  return 1
}

case "${1-}" in
  --check)
    private=$(private_folder "$(dirname -- "$0")" "$PWD") || exit 1
    exec unshare --pid --fork --mount-proc --kill-child -- sh -c 'mount -t tmpfs tmpfs "$1"' sh "$private" \
      >/dev/null 2>&1
    ;;
  --wine)
    shift
    shared=${WINEPREFIX:-$HOME/.wine}
    prefix=$(mktemp -d "${shared%/}.test-XXXXXX") || exit 125
    cleanup() {
      WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
      rm -rf "$prefix"
    }
    trap cleanup EXIT
    trap 'exit 143' TERM INT
    rmdir "$prefix" && cp -al "$shared" "$prefix" || exit 125
    WINEPREFIX=$prefix "$@"
    ;;
  *)
    private=$(private_folder "$(dirname -- "$0")" "$PWD" "$@") || exit 125
    exec unshare --pid --fork --mount-proc --kill-child -- sh -c '
      mount -t tmpfs tmpfs "$0" || exit 125
      export TMPDIR="$0" TMUX_TMPDIR="$0" XDG_DATA_HOME="$0/data"
      exec "$@"' "$private" "$@"
    ;;
esac
