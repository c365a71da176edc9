#!/usr/bin/env bash
# Makes the README's gallery, doc/gallery/<type>.png: one picture of each
# graph type, drawn by yelm itself from the example music as it plays at its
# real pace, taken with the window's keys f (frame) and p (picture). Runs its
# own X server (Xvfb) and a JACK server with the dummy back-end as the sound
# card (the file-backed card of the tests plays far faster than real time).
# The transform type shows the surfaces of a whole-file tfield run of the
# same music. Pictures are reduced to a palette to stay under 100 KB. The
# first, example.png, is the first view of examples/.yelmrc.
#   tools/gallery.sh [yelm-binary] [out-dir] [type...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
yelm=$(realpath "${1:-$root/build/yelm}")
out=$(realpath -m "${2:-$root/doc/gallery}")
shift 2 2>/dev/null || shift $#
only="$*"  # the types to make; all when none is named
demo=$root/examples/demo.wav
mkdir -p "$out"
work=$(mktemp -d)
xpid="" jpid=""
cleanup() {
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  [ -n "$jpid" ] && kill "$jpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

for _ in 1 2 3 4 5; do
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xpid=$!
  for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] && break
  kill "$xpid" 2>/dev/null || true
  xpid=""
done
[ -n "$xpid" ] || { echo "no X server" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

# JACK as the card: ALSA gets one device that fails quietly.
export JACK_DEFAULT_SERVER=yelm-gallery-$$
jackd -n "$JACK_DEFAULT_SERVER" -R -d dummy -r 44100 -p 64 >"$work/jackd.log" 2>&1 &
jpid=$!
for _ in $(seq 1 50); do jack_wait -c 2>/dev/null | grep -q running && break; sleep 0.2; done
jack_wait -c 2>/dev/null | grep -q running || { echo "no JACK server" >&2; cat "$work/jackd.log" >&2; exit 1; }
printf 'pcm.!default { type hw card 99 }\n' >"$work/asound.conf"
export ALSA_CONFIG_PATH=$work/asound.conf

# drag BUTTON DX DY: a mouse drag from the window's middle, in steps (one
# motion event each, as the toolkit needs).
drag() {
  local w=$1 button=$2 dx=$3 dy=$4 x=240 y=180
  local args="mousemove --window $w $x $y mousedown $button"
  for k in 1 2 3 4 5 6 7 8; do
    args="$args mousemove --window $w $((x + dx * k / 8)) $((y + dy * k / 8))"
  done
  xdotool $args mouseup "$button"
}

# shoot NAME SECONDS COMMAND SETTINGS VIEW...: runs COMMAND on the example,
# waits, sets the view (f: framed; turn N, spin N: a left drag of N pixels
# up-down or sideways; zoom N: a middle drag) and takes the picture.
shoot() {
  local type=$1 seconds=$2 command=$3 settings=$4 dir=$work/$1
  shift 4
  case " $only " in *" $type "*|"  ") ;; *) return 0 ;; esac
  mkdir -p "$dir"
  # @FILE: those settings as they are; otherwise these lines in a small window.
  if [ "${settings#@}" != "$settings" ]; then
    cp "${settings#@}" "$dir/.yelmrc"
  else
    printf 'window 480x360\n%b' "$settings" >"$dir/.yelmrc"
  fi
  cp "$root/examples/field" "$dir/field"
  mkfifo "$dir/in"
  (cd "$dir" && exec "$yelm" <"$dir/in" >"$dir/out" 2>&1) &
  local pid=$!
  exec 9>"$dir/in"
  local w=""
  for _ in $(seq 1 100); do
    w=$(xdotool search --name '^yelm >- DOV Audio Viewer$' 2>/dev/null | head -1) && [ -n "$w" ] && break
    sleep 0.1
  done
  echo "$command $demo" >&9
  sleep "$seconds"
  for step in "$@"; do
    case $step in
      f) xdotool key --window "$w" f ;;
      turn*) drag "$w" 1 0 "${step#turn }" ;;
      spin*) drag "$w" 1 "${step#spin }" 0 ;;
      zoom*) drag "$w" 2 0 "${step#zoom }" ;;
    esac
    sleep 0.3
  done
  xdotool key --window "$w" p
  local name=""
  for _ in $(seq 1 100); do
    name=$(sed -n 's/.*saved picture \(yelm-[^ ]*\.png\).*/\1/p' "$dir/out" | head -1)
    [ -n "$name" ] && break
    sleep 0.1
  done
  echo exit >&9
  exec 9>&-
  wait "$pid" || true
  [ -n "$name" ] || { echo "$type: no picture" >&2; cat "$dir/out" >&2; return 1; }
  # Fewer colours until the picture stays under 100 KB.
  for colours in 64 48 32 24 16; do
    /usr/bin/convert "$dir/$name" -colors "$colours" "PNG8:$out/$type.png"
    [ "$(stat -c %s "$out/$type.png")" -lt 100000 ] && break
  done
  echo "$type: $(stat -c %s "$out/$type.png") bytes"
}

# The example settings' first view, as the program opens it.
shoot example 6.5 plot "@$root/examples/.yelmrc"
file=':0 source file.left\n:0 x 0\n:0 y 0\n'
shoot fft 6.5 plot "$file:0 style fft\n:0 x -0.5\n:0 scale 0.5\n" f "turn -60"
shoot c5 6.5 plot "$file:0 style c5\n:0 tuna 880\n:0 scale 0.5\n" f "turn 60" "zoom 15"
shoot c5c 6.5 plot "$file:0 style c5c\n:0 scale 8\n" f "turn 60" "zoom -50"
shoot wlet 6.5 plot "$file:0 style wlet\n" f
shoot w2d 6.5 plot "$file:0 style w2d\n:0 scale 5\n" f
shoot ifs 6.5 plot "$file:0 style ifs\n:0 scale 0.3\n" f
shoot iviv 6.5 plot "$file:0 style iviv\n" "turn 60" "zoom 40"
shoot spiral 6.5 plot "$file:0 style spiral\n:0 x -0.3\n:1 style spiral\n:1 source file.right\n:1 x 0.3\n:1 y 0\ntuna 880\nscale 20\n" f "turn 20"
shoot origami 6.5 plot "$file:0 style origami\n:0 o.depth 6\n" f
shoot mirror 6.5 plot "$file:0 style mirror\n" f
shoot transform 2 tfield "$file:0 style transform\n:0 scale 20\ns.passes 8\n" f
