#!/usr/bin/env bash
# Render speed of each graph type alone, and of c5, iviv, wlet and fft
# together: a timed `yelm --render` of the example music (20 s) to PNG
# frames (or an mp4 video), at 1280x720 and 25 fps, framed as the f key
# frames. Speed is the
# music's length over the wall time (above 1: faster than real time); the
# idle screen's render, measured in the same run, is the baseline of what
# reading back and writing the frames alone costs.
#   tools/bench-render.sh [build-dir] [seconds of music] [png | mp4]
# Needs DISPLAY (for instance under xvfb-run -a).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-20}
format=${3:-png}
out=frames/
[ "$format" = mp4 ] && out=video.mp4
yelm=$PWD/$build/yelm
music=$PWD/examples/demo.wav
[ -x "$yelm" ] || { echo "no $yelm: build it first" >&2; exit 1; }
[ -f "$music" ] || { echo "no $music: cmake --build $build --target example_wav" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # name, display lines
  local name=$1 settings=$2
  printf 'tuna 440\nrender.view framed\n%b' "$settings" >"$work/rc"
  rm -rf "$work/frames" "$work/video.mp4"
  local start end cpu
  start=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$work/cpu" \
    "$yelm" --render "$work/$out" "$music" --to "$seconds" --settings "$work/rc" >"$work/log" 2>&1 ||
    { echo "$name: render failed"; tail -3 "$work/log"; return; }
  end=$(date +%s.%N)
  # Processor time of the program's threads (not ffmpeg's): on a busy
  # machine the wall time also holds the waits for a core.
  cpu=$(awk '{ print $1 + $2 }' "$work/cpu")
  awk -v n="$name" -v s="$seconds" -v a="$start" -v b="$end" -v base="${baseline:-0}" -v c="$cpu" \
    'BEGIN { w = b - a; x = s / w; printf "%-22s %7.2f s %6.2fx real time  cpu %6.2f s", n, w, x, c;
             if (base > 0) printf "   %5.2f x the idle screen'"'"'s time", w / base; printf "\n" }'
  last=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
}

echo "render of $seconds s of music at 1280x720, 25 fps, to $format"
run "idle screen (baseline)" ""
baseline=$last
for type in fft c5 c5c wlet w2d ifs iviv spiral transform origami mirror; do
  run "$type" ":0 style $type\n:0 source file.left\n"
done
run "c5 iviv wlet fft" ":0 style c5\n:1 style iviv\n:2 style wlet\n:3 style fft\n:0 source file.left\n:1 source file.left\n:2 source file.left\n:3 source file.left\n"
