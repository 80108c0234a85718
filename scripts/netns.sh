#!/usr/bin/env bash
# Private test networks for end-to-end runs: a controller namespace NAME-c
# (veth0) and a fixtures namespace NAME-f (veth1) joined by a veth pair,
# lo up in both. Nothing leaves the two namespaces. Needs root and iproute2.
#
#   netns.sh up NAME CONTROLLER_CIDR [FIXTURE_CIDR...]   e.g. up lumi-$$-0 2.0.0.1/8 2.0.0.10/8
#   netns.sh add NAME FIXTURE_CIDR...                    more addresses on veth1 (one ip -batch)
#   netns.sh range NAME FIRST COUNT PREFIXLEN            COUNT consecutive addresses from FIRST
#   netns.sh down NAME                                   delete both namespaces
#   netns.sh cleanup                                     delete lumi-<pid>-* pairs of dead processes
#
# Run a program inside: ip netns exec NAME-c lumiload ...; ip netns exec NAME-f vfixture ...
# Names should be lumi-<pid>-<anything> so that `cleanup` can tell stale ones.
set -euo pipefail

CONTROLLER_MAC=02:00:00:00:00:01
FIXTURES_MAC=02:00:00:00:00:02

batch() {  # batch NS < commands
  local file
  file=$(mktemp /tmp/lumi-netns.XXXXXX)
  cat >"$file"
  local rc=0
  ip -n "$1" -batch "$file" || rc=$?
  rm -f "$file"
  return $rc
}

range_lines() {  # FIRST COUNT PREFIXLEN -> "addr add a.b.c.d/p brd + dev veth1" lines
  local IFS=.
  # shellcheck disable=SC2086
  set -- $1 "$2" "$3"
  local n=$(( ($1 << 24) | ($2 << 16) | ($3 << 8) | $4 )) count=$5 prefix=$6 i
  for ((i = 0; i < count; i++)); do
    local a=$((n + i))
    echo "addr add $((a >> 24 & 255)).$((a >> 16 & 255)).$((a >> 8 & 255)).$((a & 255))/$prefix brd + dev veth1"
  done
}

cmd=${1:-}
case "$cmd" in
  up)
    name=$2 controller_cidr=$3
    shift 3
    ip netns add "$name-c"
    ip netns add "$name-f" || { ip netns del "$name-c"; exit 1; }
    if ! ip -n "$name-c" link add veth0 address $CONTROLLER_MAC type veth \
        peer name veth1 address $FIXTURES_MAC netns "$name-f"; then
      ip netns del "$name-c"; ip netns del "$name-f"; exit 1
    fi
    {
      echo "link set lo up"
      echo "addr add $controller_cidr brd + dev veth0"
      echo "link set veth0 up"
    } | batch "$name-c"
    {
      echo "link set lo up"
      for cidr in "$@"; do echo "addr add $cidr brd + dev veth1"; done
      echo "link set veth1 up"
      # The controller's neighbour entry is fixed, so a burst of replies does
      # not queue behind address resolution.
      echo "neigh replace ${controller_cidr%/*} lladdr $CONTROLLER_MAC dev veth1 nud permanent"
    } | batch "$name-f"
    ;;
  add)
    name=$2
    shift 2
    for cidr in "$@"; do echo "addr add $cidr brd + dev veth1"; done | batch "$name-f"
    ;;
  range)
    range_lines "$3" "$4" "$5" | batch "$2-f"
    ;;
  down)
    ip netns del "$2-c" 2>/dev/null || true
    ip netns del "$2-f" 2>/dev/null || true
    ;;
  cleanup)
    # Only our own names, and only those whose creating process is gone.
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^lumi-[0-9]+-' || true); do
      pid=${ns#lumi-}
      pid=${pid%%-*}
      if ! kill -0 "$pid" 2>/dev/null; then
        ip netns del "$ns" 2>/dev/null && echo "removed stale namespace $ns"
      fi
    done
    ;;
  *)
    sed -n '2,14p' "$0" >&2
    exit 2
    ;;
esac
