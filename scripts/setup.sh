#!/usr/bin/env bash
# Installs the build and test tools that are missing (Debian). Quick when all
# are present. Run as root or with sudo available.
set -euo pipefail

native=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev tmux clang libclang-rt-14-dev binutils-m68k-linux-gnu retroarch dbus chromium)
windows=(g++-mingw-w64-x86-64-posix wine wine64)

missing() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' || echo "$package"
  done
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

need_native=$(missing "${native[@]}")
need_windows=$(missing "${windows[@]}")
if [ -n "$need_native$need_windows" ]; then
  "${sudo_cmd[@]}" apt-get update -qq
  export DEBIAN_FRONTEND=noninteractive
  # shellcheck disable=SC2086
  [ -z "$need_native" ] || "${sudo_cmd[@]}" apt-get install -y -qq $need_native
  # Without --no-install-recommends wine pulls in several hundred megabytes.
  # shellcheck disable=SC2086
  [ -z "$need_windows" ] || "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends $need_windows
fi
