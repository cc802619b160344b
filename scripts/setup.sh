#!/usr/bin/env bash
# Installs what is missing (Debian), never a package's recommended packages:
#
#   bash scripts/setup.sh        # what the demo needs: the compiler, CMake, Ninja
#   bash scripts/setup.sh test   # also the test, benchmark and Windows tools
#
# Quick when all are present. Run as root or with sudo available.
set -euo pipefail

demo=(cmake ninja-build g++)
test=(googletest libgtest-dev libbenchmark-dev tmux clang libclang-rt-14-dev binutils-m68k-linux-gnu retroarch dbus
  blastem xvfb xauth xdotool chromium g++-mingw-w64-x86-64-posix wine wine64)

case "${1:-}" in
  "") packages=("${demo[@]}") ;;
  test) packages=("${demo[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [test]" >&2; exit 2 ;;
esac

missing() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' || echo "$package"
  done
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

need=$(missing "${packages[@]}")
if [ -n "$need" ]; then
  "${sudo_cmd[@]}" apt-get update -qq
  export DEBIAN_FRONTEND=noninteractive
  # Recommended packages stay out: with them wine and retroarch pull in
  # several hundred megabytes that neither the build nor the tests use.
  # shellcheck disable=SC2086
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends $need
fi
