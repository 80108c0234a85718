#!/usr/bin/env bash
# Qt for 64-bit Windows, cross-built from Debian's own qt6-base source with
# Debian's mingw-w64 (posix threading variant) and Debian's Linux Qt of the
# same version as the host Qt (moc, rcc, uic), for lumidesk.exe.
#
# Only qtbase, and of it only what the window and its tests use: Core, Gui,
# Widgets, Network, Test and the windows platform plugin. A shared build:
# the Qt DLLs ship beside lumidesk.exe, so anyone may replace them with
# their own build of the same Qt (the LGPL's condition), and the licence
# texts go with them.
#
# The result is installed into a cache outside the repository, one folder
# per Qt source version and build recipe (configure options, patches,
# toolchain), and reused while that folder is complete:
#   ${XDG_CACHE_HOME:-~/.cache}/lumi/qt-<debian version>-win64-<recipe hash>
#
#   bash scripts/build_qt_windows.sh            build unless cached; prints the prefix
#   bash scripts/build_qt_windows.sh --prefix   print the prefix; status 1 if not built
#
# Needs root (or sudo) the first time: it enables Debian source packages
# for the machine's Debian entry and installs the build tools. About 30 s to
# configure and 25 minutes to build on 2 cores; the log goes to
# <prefix>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

mingw=x86_64-w64-mingw32

# Every configure option, and why.
options=(
  -xplatform win32-g++             # Windows target, GNU toolchain (mingw-w64)
  -qt-host-path /usr               # Debian's Linux Qt supplies moc, rcc, uic for the build
  -shared                          # DLLs beside the exe: replaceable by the user (LGPL)
  -release                         # no debug DLLs to ship
  -nomake examples -nomake tests   # the libraries only
  -no-pkg-config                   # pkg-config would report the Linux host's libraries
  -no-opengl                       # widgets draw with the raster engine; no GL DLLs to ship
  -no-dbus                         # no D-Bus on Windows
  -no-icu                          # Windows' own locale and text functions suffice
  -no-openssl                      # no TLS: Network serves only QNetworkInterface
  -qt-zlib -qt-pcre                # Qt's bundled copies: mingw-w64 has no Windows builds of these
  -qt-libpng -qt-harfbuzz          #   (png: the window icon; harfbuzz: text shaping)
  -qt-doubleconversion -qt-freetype
  -no-libjpeg -no-gif              # no JPEG or GIF images are shown
  -no-feature-sql                  # modules the window does not use
  -no-feature-printsupport
  -no-feature-concurrent
  -no-feature-xml
  -no-feature-zstd                 # compression of resources: not needed, and no Windows libzstd
  -no-feature-vulkan               # no Vulkan headers for mingw-w64 in Debian
  -no-feature-tabletevent          # Debian's source leaves out the tablet header (wintab) the plugin needs
  -no-feature-direct2d1_1          # needs newer Direct2D headers; plain direct2d stays on (without
                                   #   it Qt 6.4's programs fail to link)
)
# Debian's patch series, minus the patches that do not fit a Windows target.
skip_patches=(
  cross.patch                      # Debian's Linux multiarch cross builds (turns on androiddeployqt)
  force_shared_libzstd.patch       # Debian's shared libzstd; zstd is off here
)

cache=${XDG_CACHE_HOME:-$HOME/.cache}/lumi

# The install folder for this recipe: Qt's version, the options, the
# patches left out, the toolchain file (without its comments) and the
# compiler. The host Qt's version is the version built: the host's moc and
# rcc must match the libraries they generate code for.
set_prefix() {
  qt_package_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
  local recipe
  recipe=$( { printf '%s\n' "$qt_package_version" "${options[@]}" "${skip_patches[@]}"
              grep -v '^#' cmake/mingw-w64-x86_64-posix.cmake
              "$mingw-g++-posix" --version 2>/dev/null | head -n 1; } | sha256sum | cut -c1-12)
  prefix=$cache/qt-${qt_package_version%%+*}-win64-$recipe
  # Written last: a folder without it is an interrupted build.
  complete_mark=$prefix/.lumi-complete
}

set_prefix
if [ "${1:-}" = "--prefix" ]; then
  echo "$prefix"
  [ -n "$qt_package_version" ] && [ -f "$complete_mark" ]
  exit
fi
if [ -f "$complete_mark" ]; then
  echo "$prefix"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
need=(dpkg-dev g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools cmake ninja-build perl patch)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  set_prefix
fi

# Source packages of the machine's own Debian entry only (deb822 or the
# one-line format), nothing else.
src_list=/etc/apt/sources.list.d/lumi-debian-src
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -qx "Version: $qt_package_version"; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$src_list.sources" >/dev/null
  else
    grep -E '^deb [^ ]*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $sudo tee "$src_list.list" >/dev/null
  fi
  $sudo apt-get update -qq
fi

# Fetches, patches, configures, builds and installs; every step's output
# goes to the log. Any failing step ends the script (set -e).
build_qt() {
  cd "$work"
  apt-get source --download-only "qt6-base=$qt_package_version"
  dpkg-source --skip-patches -x qt6-base_*.dsc src
  cd src
  applied=()
  while read -r patch; do
    case "$patch" in ''|'#'*) continue ;; esac
    if [[ " ${skip_patches[*]} " == *" $patch "* ]]; then
      echo "skipping patch $patch"
    else
      echo "applying patch $patch"
      patch -p1 --no-backup-if-mismatch <"debian/patches/$patch"
      applied+=("$patch")
    fi
  done <debian/patches/series

  # The toolchain goes with the install: Qt's own qt-cmake reads it from
  # there when programs are built against this Qt.
  rm -rf "$prefix"
  mkdir -p "$prefix/share/lumi-toolchain"
  cp "$ROOT/cmake/mingw-w64-x86_64-posix.cmake" "$prefix/share/lumi-toolchain/"
  mkdir ../build
  cd ../build
  start=$(date +%s)
  # After "--", for CMake: Ninja; the posix mingw-w64 toolchain; where
  # Debian keeps the host Qt's CMake files (not under /usr/lib/cmake).
  ../src/configure -prefix "$prefix" "${options[@]}" -- -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/share/lumi-toolchain/mingw-w64-x86_64-posix.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  configured=$(date +%s)
  cmake --build . --parallel "$(nproc)"
  cmake --install .
  built=$(date +%s)
  # Licence texts of Qt and of the compiler runtime that ship with the DLLs.
  mkdir -p "$prefix/licenses"
  cp -r ../src/LICENSES "$prefix/licenses/qt"
  cp ../src/debian/copyright "$prefix/licenses/qt/debian-copyright.txt"
  # How the DLLs were made, to ship with them: enough to build a
  # replacement (the LGPL's condition).
  cat >"$prefix/share/lumi-qt-build.txt" <<NOTE
Qt $qt_package_version for Windows (x86_64-w64-mingw32), DLLs.
Source: Debian's source package qt6-base $qt_package_version (apt-get source qt6-base=$qt_package_version),
with Debian's patches ${applied[*]}.
Compiler: $("$mingw-g++-posix" --version | head -n 1) (Debian's mingw-w64, posix threads).
Host tools: Debian's Qt $qt_package_version for Linux (moc, rcc, uic).
Configure: configure -prefix PREFIX ${options[*]}
  -- -DCMAKE_TOOLCHAIN_FILE=mingw-w64-x86_64-posix.cmake -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
NOTE
  echo "configure: $((configured - start)) s, build and install: $((built - configured)) s"
}

mkdir -p "$cache"
log=$prefix.log
work=$(mktemp -d "$cache/qt-build.XXXXXX")
finish() {
  rm -rf "$work"
  if [ ! -f "$complete_mark" ]; then
    echo "build_qt_windows.sh: failed; see $log" >&2
    tail -n 30 "$log" >&2
  fi
}
trap finish EXIT
echo "build_qt_windows.sh: building Qt $qt_package_version for Windows into $prefix (log: $log)" >&2
build_qt >"$log" 2>&1
touch "$complete_mark"
tail -n 1 "$log" >&2
du -sh "$prefix" >&2
echo "$prefix"
