#!/usr/bin/env bash
# Sets up, checks that every include of the program points down its stack of
# layers, builds and runs every test: the Linux build natively, under
# AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer, the
# fuzz targets for a bounded time, the Windows release build (its imports
# checked), then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each stage's time, printed at the end (also when a stage fails).
stage_times=()
timed() {  # timed LABEL COMMAND...
  local label=$1 start=$SECONDS
  shift
  "$@"
  stage_times+=("$(printf '%-26s %5d s' "$label" $((SECONDS - start)))")
}
print_stage_times() {
  echo "== stage times"
  [ ${#stage_times[@]} -eq 0 ] || printf '%s\n' "${stage_times[@]}"
  printf '%-26s %5d s\n' total "$SECONDS"
}
trap print_stage_times EXIT

timed setup bash scripts/setup.sh test

echo "== layers"
timed layers bash scripts/check_includes.sh

# No test is run a second time: a retry would hide the one-frame events that
# Ringwatch exists to count. The functional end-to-end tests play the stand-in
# at 15 frames a second, so that only a stall of several frames of the game's
# own pace could hide a frame, and they wait for the emulator's frame counter
# or its output, never for a fixed time. What happens at the game's own 60
# frames a second is measured by the benchmarks (scripts/perf.sh). A preset's
# tests run side by side (tests/CMakeLists.txt: how the end-to-end tests each
# see only their own processes).

configure_and_build() {  # configure_and_build PRESET
  cmake --preset "$1"
  cmake --build --preset "$1"
}

for preset in linux asan tsan; do
  echo "== $preset"
  timed "$preset build" configure_and_build "$preset"
  if [ "$preset" = linux ]; then
    # With the real-emulator tests (label "real"), whose core the build made
    # from RINGWATCH_CORE_TARBALL: without it they are skipped, but with
    # CI=true the build and the test fail instead.
    timed "$preset tests" ctest --preset "$preset"
  else
    # The fault tests (label "faults") judge resident memory and timing, which
    # the sanitizer runtimes change (quarantine, shadow memory, slower scans):
    # they run in the plain build; everything else runs under the sanitizers too.
    timed "$preset tests" ctest --preset "$preset" -LE faults
  fi
done

echo "== fuzz"
timed fuzz bash scripts/fuzz.sh "${RINGWATCH_FUZZ_SECONDS:-60}"

echo "== windows-release"
timed "windows-release build" configure_and_build windows-release
# What a player's Windows must provide: KERNEL32 and msvcrt, and of the
# network's DLLs ws2_32 and mswsock at most; nothing shipped beside the exe.
import_check_start=$SECONDS
imports=$(x86_64-w64-mingw32-objdump -p build/windows-release/ringwatch.exe | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | tr '\n' ' ')
unexpected=$(echo "$imports" | tr ' ' '\n' | grep -viE '^(KERNEL32\.dll|msvcrt\.dll|ws2_32\.dll|mswsock\.dll|)$' || true)
if [ -n "$unexpected" ] || ! echo " $imports" | grep -qi ' KERNEL32\.dll ' || ! echo " $imports" | grep -qi ' msvcrt\.dll '; then
  echo "build/windows-release/ringwatch.exe imports: $imports(KERNEL32.dll and msvcrt.dll expected, ws2_32.dll and mswsock.dll allowed, nothing else)"
  exit 1
fi
echo "build/windows-release/ringwatch.exe: $(stat -c %s build/windows-release/ringwatch.exe) bytes, imports $imports"
stage_times+=("$(printf '%-26s %5d s' "windows-release imports" $((SECONDS - import_check_start)))")

echo "== windows"
timed "windows build" configure_and_build windows
start=$SECONDS
source scripts/wine-env.sh
# wine-env.sh's exit trap ends the wineserver; the table still comes last.
trap 'ringwatch_wine_cleanup; print_stage_times' EXIT
stage_times+=("$(printf '%-26s %5d s' "wine prefix" $((SECONDS - start)))")
# With the real-core tests under Wine (RealCore): the windows build made the
# core's DLL, the linux build above the test cartridges; skipped like the
# Linux ones without the core's source, failed instead with CI=true.
timed "windows tests" ctest --preset windows
