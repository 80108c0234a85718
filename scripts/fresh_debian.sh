#!/usr/bin/env bash
# Runs a README command as a new user would: as root in a copy of the
# pristine Debian 12 root (scripts/debian_root.sh), on a fresh clone of this
# repository's committed HEAD, with nothing of this machine's set-up.
#   sudo bash scripts/fresh_debian.sh             the README's test command
#   sudo bash scripts/fresh_debian.sh 'COMMAND'   another one, from the clone
# Needs root; the copy is removed afterwards whatever the outcome.
set -euo pipefail
cd "$(dirname "$0")/.."

command=${1:-"bash scripts/setup.sh && bash scripts/test.sh"}
base=$(bash scripts/debian_root.sh)
work=$(mktemp -d /var/tmp/lumi-fresh.XXXXXX)
root=$work/root
cleanup() {
  # The chroot's mounts live in the private mount namespace below and end
  # with it; only the files are left to remove.
  rm -rf "$work"
}
trap cleanup EXIT

cp -a "$base" "$root"
git clone -q . "$root/root/lumi"
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "fresh_debian.sh: $command (in $root, clone of $(git rev-parse --short HEAD))"
start=$(date +%s)
status=0
unshare --mount --propagation private --fork /bin/bash -c '
  set -e
  root=$1
  # The root a mount point of its own, as on a real machine: ip netns
  # makes / a slave mount, which fails on a plain directory.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount -t sysfs sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/run"
  mount -t tmpfs tmpfs "$root/tmp"
  chmod 1777 "$root/tmp"
  exec chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 /bin/bash -c "cd /root/lumi && $2"
' _ "$root" "$command" || status=$?
echo "fresh_debian.sh: exit status $status after $(( $(date +%s) - start )) s"
exit $status
