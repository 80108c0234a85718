#!/usr/bin/env bash
# Builds both packages into dist/ (after scripts/setup.sh):
#   dist/lumi_<version>_amd64.deb    Debian 12: lumidesk, lumiload, vfixture,
#                                    make_alf in /usr/bin with manual pages,
#                                    menu entry (packaging/debian.cmake)
#   dist/lumi-<version>-win64.zip    Windows: lumidesk.exe, lumiload.exe, Qt
#                                    DLLs and plugins, README-Windows.txt
#   dist/lumi-<version>-win64-setup.exe  the same files as a per-machine
#                                    installer: Start-menu entry, uninstaller,
#                                    firewall rule (packaging/installer.nsi)
# Qt for Windows is built first when it is not in the cache (about 25
# minutes, once: scripts/build_qt_windows.sh).
#   bash scripts/package.sh              both packages
#   bash scripts/package.sh --if-cached  the Windows packages only when that
#                                        Qt is cached
#                                        (what scripts/test.sh runs)
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p dist

cmake --build build -j"$(nproc)" >/dev/null
# No .deb of an earlier run may stand in for one that could not be built.
rm -f dist/lumi_*.deb
if ! (cd build && cpack -B "$PWD/../dist" >/dev/null); then
  echo "package.sh: the Debian package could not be built (CPack's error above)" >&2
  exit 1
fi
rm -rf dist/_CPack_Packages
echo "package.sh: built $(ls dist/lumi_*.deb)"

if [ "${1:-}" = "--if-cached" ] && ! bash scripts/build_qt_windows.sh --prefix >/dev/null; then
  # No zip or installer from an earlier Qt either: the Windows tests then
  # skip, saying why.
  rm -f dist/lumi-*-win64.zip dist/lumi-*-win64-setup.exe
  echo "package.sh: Windows zip and installer skipped: Qt for Windows is not in the cache" \
       "(scripts/build_qt_windows.sh builds it, about 25 minutes)"
  exit 0
fi
bash scripts/build_qt_windows.sh >/dev/null
bash scripts/build_windows.sh >/dev/null
(cd build-win-desk && cpack -B "$PWD/../dist" >/dev/null)
rm -rf dist/_CPack_Packages
echo "package.sh: built $(ls dist/lumi-*-win64.zip)"

# The installer of the zip's files, so that the two cannot differ.
rm -f dist/lumi-*-win64-setup.exe
if ! command -v makensis >/dev/null; then
  echo "package.sh: makensis not found (Debian package nsis, which scripts/setup.sh installs)" >&2
  exit 1
fi
zip=$(ls dist/lumi-*-win64.zip)
base=$(basename "$zip" .zip)
version=${base#lumi-}
version=${version%-win64}
IFS=. read -r -a numbers <<<"$version.0.0.0"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
unzip -q "$zip" -d "$stage"
# The uninstaller's lines: every file, then every folder deepest first.
(cd "$stage/$base" &&
  find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|Delete "$INSTDIR\\&"|' &&
  find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|RMDir "$INSTDIR\\&"|') >"$stage/files.nsh"
makensis -V2 -DVERSION="$version" -DVERSION4="${numbers[0]}.${numbers[1]}.${numbers[2]}.${numbers[3]}" \
  -DSOURCE="$stage/$base" -DFILES="$stage/files.nsh" -DOUTFILE="$PWD/dist/$base-setup.exe" \
  packaging/installer.nsi
echo "package.sh: built dist/$base-setup.exe"
