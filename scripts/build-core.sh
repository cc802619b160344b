#!/usr/bin/env bash
# Builds the Genesis Plus GX libretro core from its source tarball, for the
# tests against the real emulator:
#
#   bash scripts/build-core.sh            # build/core/linux/genesis_plus_gx_libretro.so
#   bash scripts/build-core.sh windows    # also build/core/windows/genesis_plus_gx_libretro.dll
#
# The tarball is $RINGWATCH_CORE_TARBALL, by default ../shared/third_party/
# genesis-plus-gx.tar.xz beside the repository. A core newer than the tarball
# (and than this script) is kept. Without the tarball nothing is built, any
# core built earlier is removed (the tests then skip) and one line says what to
# set; with CI=true that is an error, since CI must run those tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tarball=${RINGWATCH_CORE_TARBALL:-$root/../shared/third_party/genesis-plus-gx.tar.xz}
out=$root/build/core

targets=(linux)
case "${1:-}" in
  "") ;;
  windows) targets+=(windows) ;;
  *) echo "usage: $0 [windows]" >&2; exit 2 ;;
esac

if [ ! -f "$tarball" ]; then
  rm -f "$out/linux/genesis_plus_gx_libretro.so" "$out/windows/genesis_plus_gx_libretro.dll"
  echo "real-emulator tests skipped: no core source at $tarball; set RINGWATCH_CORE_TARBALL to the genesis-plus-gx source tarball"
  [ "${CI:-}" != true ] || exit 1
  exit 0
fi

build() {  # build TARGET FILE MAKE-ARGS...
  local target=$1 file=$2
  shift 2
  local dir=$out/$target
  if [ -f "$dir/$file" ] && [ "$dir/$file" -nt "$tarball" ] && [ "$dir/$file" -nt "$0" ]; then
    return
  fi
  echo "building $dir/$file from $tarball"
  rm -rf "$dir"
  mkdir -p "$dir"
  tar -xJf "$tarball" -C "$dir"
  # The makefile leaves its objects beside the sources: one tree per target.
  make -C "$dir/genesis-plus-gx" -f Makefile.libretro -j"$(nproc)" "$@" >"$dir/build.log" 2>&1 || {
    tail -n 30 "$dir/build.log"
    echo "core build failed for $target; the whole log is $dir/build.log" >&2
    exit 1
  }
  mv "$dir/genesis-plus-gx/$file" "$dir/$file"
}

for target in "${targets[@]}"; do
  case $target in
    linux) build linux genesis_plus_gx_libretro.so ;;
    windows)
      build windows genesis_plus_gx_libretro.dll platform=win \
        CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix AR=x86_64-w64-mingw32-ar
      ;;
  esac
done
