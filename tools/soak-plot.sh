#!/usr/bin/env bash
# Soak: plot / mute cycles on the file-backed sound card (tests/support/
# asound.conf), alternately playing a file and capturing from the card.
# Prints the resident memory, open descriptors and threads of the program
# every 100 cycles, then the streams started against the streams stopped.
# Memory and descriptors must stay flat, and every stream must be stopped.
#   tools/soak-plot.sh [cycles, default 1000] [yelm binary]
# Run by hand. Without a DISPLAY it starts its own Xvfb, so the window and
# its frames are part of every cycle.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cycles=${1:-1000}
bin=${2:-$root/build/yelm}
mkdemo=$(dirname "$bin")/mkdemo
work=$(mktemp -d "${TMPDIR:-/tmp}/yelm-soak-plot-XXXXXX")
xpid="" ypid=""
cleanup() {
  [ -n "$ypid" ] && kill "$ypid" 2>/dev/null || true
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  exec 3>&-
  for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(cat "$work/display")"
fi
export ALSA_CONFIG_PATH=$root/tests/support/asound.conf VSND_IN=/dev/zero VSND_OUT=/dev/null

# The card is not paced: a file of three minutes plays for about a second,
# long enough for the mute to find its stream running.
"$mkdemo" "$work/tune.wav" 180
mkfifo "$work/in"
(cd "$work" && exec stdbuf -oL "$bin" <"$work/in" >"$work/out" 2>"$work/err") &
ypid=$!
exec 4>"$work/in"

mutes_seen() { grep -o 'stopping audio-capture' "$work/out" | wc -l; }
sample() {  # cycle
  local want=$1
  for _ in $(seq 1 6000); do [ "$(mutes_seen)" -ge "$want" ] && break; sleep 0.05; done
  local rss fds threads
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$ypid/status")
  threads=$(awk '/^Threads/ {print $2}' "/proc/$ypid/status")
  fds=$(ls "/proc/$ypid/fd" | wc -l)
  printf '%6d %10d %5d %8d\n' "$want" "$rss" "$fds" "$threads"
}

echo "window: ${DISPLAY:-none}"
printf '%6s %10s %5s %8s\n' cycle rss_kB fds threads
for ((i = 1; i <= cycles; i++)); do
  if ((i % 2)); then echo "plot tune.wav" >&4; else echo "plot" >&4; fi
  echo "mute" >&4
  if ((i == 1 || i % 100 == 0)); then sample "$i"; fi
done
echo "exit" >&4
exec 4>&-
wait "$ypid" || echo "exit status $?"
ypid=""
started=$(grep -o 'audio device started' "$work/out" | wc -l)
stopped=$(tr -cd '\a' <"$work/out" | wc -c)
errors=$(grep -c 'An error occured' "$work/err" || true)
echo "streams started: $started, stopped: $stopped, stream errors: $errors"
[ "$started" -eq "$stopped" ] && [ "$errors" -eq 0 ]
