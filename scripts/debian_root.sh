#!/usr/bin/env bash
# A minimal Debian 12 root file system, made once with debootstrap from the
# machine's own Debian mirror and cached; tests copy it and change only the
# copy (tests/packaging installs the .deb there).
#   bash scripts/debian_root.sh     prints the root's path, making it first
# Needs root and the Debian mirror; about 2 minutes the first time.
set -euo pipefail

root=${XDG_CACHE_HOME:-$HOME/.cache}/lumi/debian12-minbase
if [ -f "$root.complete" ]; then
  echo "$root"
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "debian_root.sh: needs root" >&2
  exit 1
fi
if ! command -v debootstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi
# The machine's own mirror, from either form of apt's sources; a machine
# without the one file or the other is normal, never a reason to stop.
mirror=$({ sed -n 's|^URIs: *\(.*/debian\)/*$|\1|p' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true
           sed -n 's|^deb  *\([^ ]*/debian\)/* bookworm .*|\1|p' /etc/apt/sources.list 2>/dev/null || true; } | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

mkdir -p "$(dirname "$root")"
rm -rf "$root"
if ! debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1; then
  echo "debian_root.sh: debootstrap failed; see $root.log" >&2
  tail -n 5 "$root.log" >&2
  exit 1
fi
touch "$root.complete"
echo "$root"
