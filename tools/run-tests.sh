#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: a plain
# build, an AddressSanitizer/UndefinedBehaviorSanitizer build, and a
# ThreadSanitizer build of the tests that run threads. Starts its own X server
# and uses a sound card made of files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}

bash tools/install-deps.sh

xpid=""
cleanup() { [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true; }
trap cleanup EXIT
numfile=$(mktemp)
exec 3>"$numfile"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
exec 3>&-
for _ in $(seq 1 200); do [ -s "$numfile" ] && break; sleep 0.05; done
if [ -s "$numfile" ]; then
  export DISPLAY=":$(cat "$numfile")"
  echo "X server on $DISPLAY"
else
  echo "*** no X server: window tests will report themselves skipped"
  unset DISPLAY
fi
export ALSA_CONFIG_PATH="$root/tests/support/asound.conf"
export VSND_IN=/dev/zero VSND_OUT=/dev/null

run_suite() {  # build-dir, cmake options..., then ctest options after --
  local dir=$1; shift
  local cfg=() ct=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cfg+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  ct=("$@")
  cmake -S . -B "$dir" "${cfg[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  LD_PRELOAD=${TEST_PRELOAD:-} ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 "${ct[@]}"
}

echo "== plain build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== address and undefined-behaviour sanitizers"
# Mesa unloads its software driver at exit, before the leak check runs; the
# driver's one-time allocations then show up under no module name and miss
# their suppression. Preloading it into the tests keeps it mapped (the
# sanitizer runtime then no longer comes first, which is harmless here).
dri=$(dpkg -L libgl1-mesa-dri 2>/dev/null | grep '/swrast_dri\.so$' | head -1 || true)
TEST_PRELOAD=${dri} \
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:verify_asan_link_order=0 \
LSAN_OPTIONS=suppressions=$root/tests/support/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DYELM_SANITIZE=address,undefined -DYELM_BENCH=OFF
echo "== thread sanitizer (threaded tests)"
# The window tests stay out here: under this sanitizer the software renderer
# takes longer to bring up a window than those tests wait.
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/support/tsan.supp" \
  run_suite build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYELM_SANITIZE=thread -DYELM_BENCH=OFF -- -L 'live|cli' -E 'Window_|NoDisplay'
