#!/usr/bin/env bash
# Installs the Debian packages the program, its tests and benchmarks need.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  portaudio19-dev libfftw3-dev freeglut3-dev libglu1-mesa-dev libgl1-mesa-dev
  libreadline-dev libresample1-dev libsndfile1-dev libpng-dev libx11-dev libasound2-dev libasound2-plugins
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils x11-apps xdotool imagemagick mesa-utils libgl1-mesa-dri
  sox jackd2 tmux ffmpeg
  dpkg-dev file lintian man-db groff-base
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
