#!/usr/bin/env bash
# Soak: a long stereo WAV through every whole-file transform, one run each,
# reporting the time and the peak resident memory of every run and checking
# the length of every output. Peak memory must not grow with the file.
#   tools/soak-transforms.sh [minutes, default 60] [yelm binary]
# SOAK_COMMANDS picks and orders the transforms (default: all seven).
# Run by hand; it takes about 50 minutes per hour of music on one core.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
minutes=${1:-60}
bin=${2:-$root/build/yelm}
mkdemo=$(dirname "$bin")/mkdemo
work=$(mktemp -d "${TMPDIR:-/tmp}/yelm-soak-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# One minute of the demo music, repeated: the file costs no generation time.
"$mkdemo" minute.wav 60
python3 - "$minutes" <<'PY'
import struct, sys
minutes = int(sys.argv[1])
data = open('minute.wav', 'rb').read()[44:]
with open('long.wav', 'wb') as f:
    size = len(data) * minutes
    f.write(b'RIFF' + struct.pack('<I', 36 + size) + b'WAVEfmt ' +
            struct.pack('<IHHIIHH', 16, 1, 2, 44100, 44100 * 4, 4, 16) + b'data' + struct.pack('<I', size))
    for _ in range(minutes):
        f.write(data)
PY
rm minute.wav
in_bytes=$(stat -c %s long.wav)
frames=$(( (in_bytes - 44) / 4 ))
whole=$(( frames / 512 * 512 ))
printf 'dim 40 30\nin 3 15\ncoupling 1.0 0.5\nshape 1\n\ndim 64 16\ndamp 0.999\nshape -4\n' >field
printf '0.000 20 6 0.5 0.25\n0.012 8 12 0.3 0.1\n1.000 30 40 0.2 0.2\n' >cb.txt

echo "input: $minutes min, $frames stereo frames, $in_bytes bytes"
printf '%-12s %9s %12s %12s  %s\n' command seconds peak_rss_kB out_frames check
status=0
for cmd in ${SOAK_COMMANDS:-fold reconstruct tstring tether tfield mirage unfold}; do
  line="$cmd out.wav long.wav"
  [ "$cmd" = reconstruct ] && line="$line cb.txt"
  want=$frames
  case $cmd in tstring | tether | tfield | mirage) want=$whole ;; esac
  rm -f out.wav
  /usr/bin/time -f '%e %M' -o time.txt "$bin" <<<"$line
exit" >log.txt 2>err.txt || true
  read -r secs rss <time.txt
  got=$(( ($(stat -c %s out.wav 2>/dev/null || echo 44) - 44) / 4 ))
  check=ok
  [ "$got" -eq "$want" ] || { check="WRONG LENGTH (want $want)"; status=1; }
  grep -q 'cannot write\|aborting' log.txt && { check="FAILED: $(grep -m1 'cannot write\|aborting' log.txt)"; status=1; }
  printf '%-12s %9s %12s %12s  %s\n' "$cmd" "$secs" "$rss" "$got" "$check"
done
exit $status
