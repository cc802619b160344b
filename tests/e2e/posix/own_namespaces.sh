#!/usr/bin/env bash
# Runs a test so that it sees only the processes it starts, for the tests to
# run side by side: Ringwatch looks for the emulator by name among all
# processes.
#
# On Linux the test runs in its own PID and mount namespaces: its own /proc,
# its own /tmp (temporary folders, tmux's socket) and a history folder of its
# own. When the test's process ends, every process it left behind ends with it.
#
# Under Wine (--wine) the processes a program sees are those of its
# wineserver, one per prefix: the test runs in a prefix of its own, a copy of
# $WINEPREFIX made of hard links (new files only are written: the wineserver
# replaces its registry files whole), ended and removed afterwards.
#
#   own_namespaces.sh --check         exit status 0 where namespaces can be made
#   own_namespaces.sh COMMAND [ARG...]
#   own_namespaces.sh --wine COMMAND [ARG...]
case "${1-}" in
  --check)
    exec unshare --pid --fork --mount-proc --kill-child -- sh -c 'mount -t tmpfs tmpfs /tmp' >/dev/null 2>&1
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
    exec unshare --pid --fork --mount-proc --kill-child -- sh -c '
      mount -t tmpfs tmpfs /tmp || exit 125
      export XDG_DATA_HOME=/tmp/data
      exec "$@"' own-namespaces "$@"
    ;;
esac
