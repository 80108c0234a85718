#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, then builds into build/.
# Runs apt-get as root, or through sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake g++ make pkg-config libgtest-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  iproute2 time xvfb xauth x11-apps imagemagick librsvg2-bin
  g++-mingw-w64-x86-64 wine wine64
  dpkg-dev file unzip debootstrap ninja-build lintian desktop-file-utils nsis
  clang libclang-rt-14-dev nlohmann-json3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMI_BUILD_DESK=ON -DLUMI_SANITIZE=OFF >/dev/null
cmake --build build -j"$(nproc)"
