#!/usr/bin/env bash
# Cross-builds lumiload.exe for 64-bit Windows with mingw-w64 into
# build-win/bin/lumiload.exe, statically linked, and checks that it needs
# no DLL beyond those Windows itself provides.
# When Qt for Windows is in the cache (scripts/build_qt_windows.sh), also
# builds lumidesk.exe and the window's test program (desk_window.exe, run
# under Wine by tests/windows) into build-win-desk/bin/; otherwise says so.
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
# beside the .exe. WINMM gives the waits their 1 ms timer resolution; ole32
# and OLEAUT32 the network check the Windows Firewall API.
allowed='^(KERNEL32|msvcrt|WSOCK32|IPHLPAPI|WINMM|ole32|OLEAUT32)\.(dll|DLL)$'
bad=0
while read -r dll; do
  if ! [[ "$dll" =~ $allowed ]]; then
    echo "build_windows.sh: $exe imports $dll" >&2
    bad=1
  fi
done < <("$prefix-objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ "$bad" -eq 0 ] || exit 1
echo "built $exe"

if ! qt=$(bash scripts/build_qt_windows.sh --prefix); then
  echo "build_windows.sh: lumidesk.exe skipped: Qt for Windows is not in the cache ($qt);" \
       "scripts/build_qt_windows.sh builds it (about 25 minutes)"
  exit 0
fi
# A build tree keeps the Qt and toolchain it was first configured with.
if [ -f build-win-desk/CMakeCache.txt ] && ! grep -q "^Qt6_DIR:PATH=$qt/" build-win-desk/CMakeCache.txt; then
  rm -rf build-win-desk
fi
# Qt's qt-cmake brings the toolchain Qt was built with (mingw-w64, posix).
"$qt/bin/qt-cmake" -S . -B build-win-desk -G Ninja --no-warn-unused-cli \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DLUMI_BUILD_DESK=ON -DLUMI_BUILD_TESTS=ON \
  -DLUMI_WINDOWS_LUMILOAD="$PWD/$exe" >/dev/null
cmake --build build-win-desk -j2 --target lumidesk desk_window
echo "built build-win-desk/bin/lumidesk.exe against $qt"
