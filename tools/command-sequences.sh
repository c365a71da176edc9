#!/usr/bin/env bash
# Random command sequences against the sanitizer build of yelm, with its own
# X server and the file-backed sound card, for as long as asked:
#   tools/command-sequences.sh <minutes> [seed]
# Each run of the driver lasts five minutes with the next seed; a fault stops
# it, prints the seed and the shortest failing command list, and appends that
# list to build-asan/sequences-found.txt (copy it into
# tests/sequences/regressions.txt once mended).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
minutes=${1:?usage: tools/command-sequences.sh <minutes> [seed]}
seed=${2:-$(date +%s)}
build=${SEQUENCES_BUILD:-$root/build-asan}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DYELM_SANITIZE=address,undefined -DYELM_BENCH=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target yelm command_sequences

xpid=""
cleanup() { [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true; }
trap cleanup EXIT
numfile=$(mktemp)
for _ in 1 2 3; do
  exec 3>"$numfile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  exec 3>&-
  for _ in $(seq 1 200); do [ -s "$numfile" ] && break; sleep 0.05; done
  [ -s "$numfile" ] && break
  kill "$xpid" 2>/dev/null || true
  xpid=""
done
[ -s "$numfile" ] || { echo "*** no X server"; exit 1; }
export DISPLAY=":$(cat "$numfile")"
export ALSA_CONFIG_PATH="$root/tests/support/asound.conf" VSND_IN=/dev/zero VSND_OUT=/dev/null
export LD_PRELOAD=$(dpkg -L libgl1-mesa-dri 2>/dev/null | grep '/swrast_dri\.so$' | head -1 || true)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:verify_asan_link_order=0
export LSAN_OPTIONS=suppressions=$root/tests/support/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

end=$(( $(date +%s) + minutes * 60 ))
status=0
while [ "$(date +%s)" -lt "$end" ]; do
  left=$(( end - $(date +%s) ))
  slice=$(( left < 300 ? left : 300 ))
  "$build/tests/command_sequences" --seed "$seed" --seconds "$slice" --save "$build/sequences-found.txt" \
    | grep -v -e '^ *[0-9]* *[0-9]* lib' -e '^Suppressions used' -e '^ *count *bytes template' || status=1
  [ "$status" -eq 0 ] || break
  seed=$((seed + 1))
done
exit "$status"
