#!/usr/bin/env bash
# Cross-builds lumiload.exe for 64-bit Windows with mingw-w64 into
# build-win/bin/lumiload.exe, statically linked, and checks that it needs
# no DLL beyond those Windows itself provides.
#   bash scripts/build_windows.sh            # RelWithDebInfo
#   BUILD_TYPE=Release bash scripts/build_windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=x86_64-w64-mingw32
if ! command -v "$prefix-g++" >/dev/null; then
  echo "build_windows.sh: $prefix-g++ not found (Debian package g++-mingw-w64-x86-64)" >&2
  exit 2
fi

build_dir=build-win
cmake -S . -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DLUMI_BUILD_DESK=OFF -DLUMI_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target lumiload -j2

exe="$build_dir/bin/lumiload.exe"
# Only system DLLs may be imported; anything else would have to ship
# beside the .exe.
allowed='^(KERNEL32|msvcrt|WSOCK32|IPHLPAPI)\.(dll|DLL)$'
bad=0
while read -r dll; do
  if ! [[ "$dll" =~ $allowed ]]; then
    echo "build_windows.sh: $exe imports $dll" >&2
    bad=1
  fi
done < <("$prefix-objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ "$bad" -eq 0 ] || exit 1
echo "built $exe"
