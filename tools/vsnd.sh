#!/usr/bin/env bash
# Runs a command (default: yelm from ./build) on a sound card made of files,
# for machines without sound hardware. The capture side plays IN (raw float
# little-endian stereo; default silence), the playback side records into OUT
# (default: discarded). The card is not paced: it runs as fast as the CPU.
#   tools/vsnd.sh [-i IN.raw] [-o OUT.raw] [command args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
in=/dev/zero
out=/dev/null
while getopts "i:o:" opt; do
  case $opt in
    i) in=$(realpath "$OPTARG") ;;
    o) out=$(realpath -m "$OPTARG") ;;
    *) echo "usage: $0 [-i IN.raw] [-o OUT.raw] [command args...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || set -- "$root/build/yelm"
export ALSA_CONFIG_PATH="$root/tests/support/asound.conf" VSND_IN="$in" VSND_OUT="$out"
exec "$@"
