#!/usr/bin/env bash
# scripts/install.sh in a scratch prefix, platform root and unit folder without
# systemctl: the files, the agent's registration and the unit are in place, a
# second run changes nothing, and --uninstall (then --purge) leaves nothing.
# usage: install_test.sh <source dir> <build dir with update_agent and zu_service_host>
set -euo pipefail
src=$1
build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
root=$scratch/root
units=$scratch/units
unit=$units/tarnwell-service-host.service
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
has() { [[ "$1" == *"$2"* ]] || fail "expected \"$2\" in: $1"; }
run() {
  bash "$src/scripts/install.sh" --prefix "$prefix" --root "$root" --unit-dir "$units" \
    --no-systemctl --no-build --build-dir "$build" "$@" 2>&1
}
# The state as the build's own agent reads it from the scratch root.
agent_state() { ZU_PLATFORM_ROOT=$root "$build/update_agent/update_agent" -v; }

out=$(run) || fail "install: $out"
for program in update_agent/update_agent shared/loam/platform/service_host/zu_service_host; do
  installed=$prefix/bin/$(basename "$program")
  [ -x "$installed" ] && cmp -s "$build/$program" "$installed" || fail "$installed not in place"
  has "$out" "installed: $installed"
done
[ "$(sed -n 's/^ExecStart=//p' "$unit")" = "$prefix/bin/zu_service_host boot" ] || fail "ExecStart"
[ "$(sed -n 's/^Environment=//p' "$unit")" = "ZU_PLATFORM_ROOT=$root" ] || fail "Environment"
verified=$(systemd-analyze verify "$unit" 2>&1) && [ -z "$verified" ] || fail "verify: $verified"
has "$out" "Tarnwell Update Agent installed."
has "$out" "not run (--no-systemctl)"
has "$(agent_state)" "The service is currently installed"
# Registered as the installed program, under the scratch root only.
grep -rqF "$prefix/bin/update_agent" "$root/registry" || fail "image path not the installed agent"

again=$(run) || fail "second install: $again"
has "$again" "unchanged: $prefix/bin/update_agent"
has "$again" "unchanged: $prefix/bin/zu_service_host"
has "$again" "unchanged: $unit"
has "$again" "Tarnwell Update Agent is already installed."
[[ "$again" != *"installed: "* ]] || fail "second run replaced something: $again"

out=$(run --uninstall) || fail "uninstall: $out"
has "$out" "Tarnwell Update Agent removed."
has "$out" "removed: $unit"
has "$out" "kept: $root"
[ ! -e "$prefix" ] || fail "left behind: $(find "$prefix")"
[ -z "$(ls -A "$units")" ] || fail "left in the unit folder: $(ls -A "$units")"
has "$(agent_state)" "The service is not installed."

out=$(run --uninstall --purge) || fail "second uninstall: $out"
[[ "$out" != *"removed: $prefix"* ]] || fail "second uninstall removed files again: $out"
[ ! -e "$root" ] || fail "platform root left by --purge"

# Refusals.
if run --purge >/dev/null; then fail "--purge without --uninstall was taken"; fi
if bash "$src/scripts/install.sh" --prefix relative --no-systemctl --no-build >/dev/null 2>&1; then
  fail "a relative prefix was taken"
fi
[ ! -e "$src/relative" ] || fail "a relative prefix was made"
if run --prefix "$scratch/with space" >/dev/null; then fail "a prefix with a blank was taken"; fi
[ ! -e "$scratch/with space" ] || fail "a prefix with a blank was made"
echo "install and uninstall verified"
