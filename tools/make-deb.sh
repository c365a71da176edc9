#!/usr/bin/env bash
# Builds the Debian package from a fresh build folder, with Debian's build
# flags, and leaves yelm_<version>_<arch>.deb in the given folder (default:
# the current one). Install it with: sudo apt install ./yelm_*.deb
set -euo pipefail
out=$(realpath "${1:-.}")
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

build=$(mktemp -d "${TMPDIR:-/tmp}/yelm-deb.XXXXXX")
trap 'rm -rf "$build"' EXIT

# Hardening and optimisation as Debian's own packages get them; the binary
# is stripped when packed.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYELM_TESTS=OFF -DYELM_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs"
(cd "$build" && cpack -G DEB -B "$build/package" >/dev/null)
mkdir -p "$out"
for deb in "$build"/package/yelm_*.deb; do
  cp "$deb" "$out/"
  echo "$out/$(basename "$deb")"
done
