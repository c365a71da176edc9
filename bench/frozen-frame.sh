#!/usr/bin/env bash
# CPU that the window costs once a played file has ended, for every graph
# type, as a share of one core and as a ratio to the idle screen measured in
# the same run. Needs DISPLAY (an X server with GLX) and runs on the
# file-backed card, which plays the example in a fraction of a second.
#   bench/frozen-frame.sh [build-dir] [seconds]
# Measured on the 2-core development machine (Xvfb, llvmpipe, 400 x 400,
# 3 s): redrawn on every tick, fft 19.5%, c5c 33.7%, w2d 19.8%, mirror 32.4%
# of a core (13 to 24 times the idle screen's 1.4%); drawn only on change,
# every type 0.14% to 0.17%, the idle screen 0.15%.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
seconds=${2:-3}
yelm=$build/yelm
demo=$root/examples/demo.wav
export ALSA_CONFIG_PATH=$root/tests/support/asound.conf VSND_IN=/dev/zero VSND_OUT=/dev/null
[ -n "${DISPLAY:-}" ] || { echo "DISPLAY is not set" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Processor time of a process in nanoseconds, all its threads.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }

# measure TYPE: prints the share of a core over $seconds once the file ended
# (TYPE idle: no plot, the idle screen).
measure() {
  local type=$1 dir=$work/$1
  mkdir -p "$dir"
  if [ "$type" = idle ]; then : >"$dir/.yelmrc"; else printf ':0 style %s\n:0 source file.left\n' "$type" >"$dir/.yelmrc"; fi
  mkfifo "$dir/in"
  (cd "$dir" && exec "$yelm" <"$dir/in" >"$dir/out" 2>&1) &
  local pid=$!
  exec 8>"$dir/in"
  sleep 2
  [ "$type" = idle ] || echo "plot $demo" >&8
  # The file card plays the 20 s example in well under a second.
  sleep 2
  local t0 a b
  t0=$(date +%s.%N)
  a=$(cpu_ns $pid)
  sleep "$seconds"
  b=$(cpu_ns $pid)
  local t1
  t1=$(date +%s.%N)
  echo exit >&8
  exec 8>&-
  wait $pid || true
  awk -v a="$a" -v b="$b" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.5f\n", (b - a) / 1e9 / (t1 - t0) }'
}

base=$(measure idle)
printf '%-10s %8s %8s\n' type core ratio
printf '%-10s %7.2f%% %8s\n' idle "$(awk -v s="$base" 'BEGIN{print 100*s}')" 1.0
for type in fft c5 c5c wlet w2d ifs iviv spiral transform origami mirror; do
  share=$(measure "$type")
  printf '%-10s %7.2f%% %8.2f\n' "$type" "$(awk -v s="$share" 'BEGIN{print 100*s}')" \
    "$(awk -v s="$share" -v b="$base" 'BEGIN{print (b > 0 ? s / b : 0)}')"
done
