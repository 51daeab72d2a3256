#!/usr/bin/env bash
# The boot host's systemd unit passes systemd-analyze verify (which needs no
# running systemd, but does need the ExecStart program to exist: the check runs
# on a copy that names the built host) and says what the host relies on.
# usage: verify_unit.sh <source dir> <built zu_service_host>
set -euo pipefail
src=$1
host=$2
unit=$src/packaging/systemd/tarnwell-service-host.service
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ -x "$host" ] || fail "no host program at $host"
setting() { sed -n "s/^$1=//p" "$2"; }

# The defaults that scripts/install.sh rewrites for its --prefix and --root.
[ "$(setting ExecStart "$unit")" = "/opt/tarnwell/bin/zu_service_host boot" ] || fail "ExecStart"
[ "$(setting Environment "$unit")" = "ZU_PLATFORM_ROOT=/var/lib/tarnwell" ] || fail "Environment"
[ "$(setting After "$unit")" = "network-online.target" ] || fail "After"
[ "$(setting Wants "$unit")" = "network-online.target" ] || fail "Wants"
# Only the host gets SIGTERM; what it leaves is killed once it has exited.
[ "$(setting KillMode "$unit")" = "mixed" ] || fail "KillMode"
# Above the host's bound: 60 s of waiting plus a control in flight (30 s).
timeout_s=$(setting TimeoutStopSec "$unit")
[[ "$timeout_s" =~ ^[0-9]+$ ]] && [ "$timeout_s" -gt 90 ] || fail "TimeoutStopSec $timeout_s"

sed "s|^ExecStart=.*|ExecStart=$host boot|" "$unit" >"$scratch/tarnwell-service-host.service"
out=$(systemd-analyze verify "$scratch/tarnwell-service-host.service" 2>&1) || fail "verify: $out"
[ -z "$out" ] || fail "verify reported: $out"

# verify only warns (and succeeds) on a setting it cannot parse: its output is the check.
sed 's/^KillMode=.*/KillMode=bogus/' "$scratch/tarnwell-service-host.service" >"$scratch/bad.service"
bad=$(systemd-analyze verify "$scratch/bad.service" 2>&1 || true)
[[ "$bad" == *"kill mode"* ]] || fail "verify did not notice a bad KillMode: $bad"
echo "unit verified"
