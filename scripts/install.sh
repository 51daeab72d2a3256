#!/usr/bin/env bash
# Installs the update agent as a service that starts at boot: builds the release
# configuration, installs the agent and the boot host (zu_service_host) under a
# prefix, installs and enables the systemd unit, registers the agent with its
# own "-i" and starts the unit. --uninstall reverses it in order. Run as root.
# Safe to run again: what is in place already is left as it is. It installs no
# packages: missing build tools are named, and the run stops.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

unit_name=tarnwell-service-host.service
prefix=/opt/tarnwell
root=/var/lib/tarnwell
unit_dir=/etc/systemd/system
build_dir=build/release
use_systemctl=1
build=1
uninstall=0
purge=0

usage() {
  cat <<EOF
usage: bash scripts/install.sh [options]
       bash scripts/install.sh --uninstall [--purge] [options]
  --prefix DIR      where the programs go, DIR/bin (default /opt/tarnwell)
  --root DIR        the platform root, ZU_PLATFORM_ROOT (default /var/lib/tarnwell)
  --unit-dir DIR    where the systemd unit goes (default /etc/systemd/system)
  --no-systemctl    write the unit but do not run systemctl (no running systemd)
  --build-dir DIR   the release build folder (default build/release)
  --no-build        install the programs already built in the build folder
  --uninstall       stop, unregister the agent, remove the unit and the programs
  --purge           with --uninstall: remove the platform root too
The agent carries the upgrade key named by UA_UPGRADE_PUBLIC_KEY when it is built
(unset: none, and every upgrade is refused).
EOF
}

say() { echo "install.sh: $*"; }
die() {
  echo "install.sh: $*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case "$1" in
    --prefix | --root | --unit-dir | --build-dir)
      [ $# -ge 2 ] && [ -n "$2" ] || die "$1 needs a folder"
      case "$1" in
        --prefix) prefix=$2 ;;
        --root) root=$2 ;;
        --unit-dir) unit_dir=$2 ;;
        --build-dir) build_dir=$2 ;;
      esac
      shift 2
      ;;
    --no-systemctl) use_systemctl=0; shift ;;
    --no-build) build=0; shift ;;
    --uninstall) uninstall=1; shift ;;
    --purge) purge=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; die "unknown option $1" ;;
  esac
done

[ "$(id -u)" -eq 0 ] || die "run as root"
for dir in "$prefix" "$root" "$unit_dir"; do
  case "$dir" in
    /*) ;;
    *) die "$dir is not an absolute path" ;;
  esac
  # The paths go into the unit file as they are: nothing there to quote or escape.
  [[ "$dir" =~ ^[A-Za-z0-9._/+-]+$ ]] || die "$dir: only letters, digits and ._/+- are taken"
done
[ "$root" != / ] || die "the platform root cannot be /"
[ "$purge" -eq 0 ] || [ "$uninstall" -eq 1 ] || die "--purge goes with --uninstall"

bin_dir=$prefix/bin
agent=$bin_dir/update_agent
host=$bin_dir/zu_service_host
unit_file=$unit_dir/$unit_name
export ZU_PLATFORM_ROOT=$root

# Replaces dest with src when they differ (through a rename, so a running
# program keeps its old file). Sets changed=1 when it did.
changed=0
put_file() {
  local src=$1 dest=$2 mode=$3
  if [ -f "$dest" ] && cmp -s "$src" "$dest"; then
    say "unchanged: $dest"
    return
  fi
  install -m "$mode" "$src" "$dest.new"
  mv -f "$dest.new" "$dest"
  say "installed: $dest"
  changed=1
}

remove_file() {
  if [ -e "$1" ] || [ -L "$1" ]; then
    rm -f "$1"
    say "removed: $1"
  fi
}

remove_empty_dir() {
  if [ -d "$1" ] && rmdir "$1" 2>/dev/null; then say "removed: $1"; fi
}

if [ "$uninstall" -eq 1 ]; then
  if [ "$use_systemctl" -eq 1 ] && [ -f "$unit_file" ]; then
    # The host sends every running service, the agent among them, its stop control.
    systemctl stop "$unit_name" || die "systemctl stop $unit_name failed"
    say "stopped: $unit_name"
  fi
  if [ -x "$agent" ]; then
    # The agent's own -u: stops it when it still runs, then removes its registration.
    "$agent" -u || die "$agent -u failed"
  fi
  if [ -f "$unit_file" ]; then
    if [ "$use_systemctl" -eq 1 ]; then
      systemctl disable "$unit_name"
      say "disabled: $unit_name"
    fi
    remove_file "$unit_file"
    if [ "$use_systemctl" -eq 1 ]; then systemctl daemon-reload; fi
  fi
  remove_file "$host"
  remove_file "$agent"
  remove_empty_dir "$bin_dir"
  remove_empty_dir "$prefix"
  if [ "$purge" -eq 1 ]; then
    if [ -d "$root" ]; then
      rm -rf -- "$root"
      say "removed: $root (the platform root)"
    fi
  elif [ -d "$root" ]; then
    say "kept: $root (the platform root; --purge removes it)"
  fi
  say "uninstall done"
  exit 0
fi

if [ "$build" -eq 1 ]; then
  missing=()
  for p in cmake ninja-build g++ pkg-config libcrypto++-dev; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] ||
    die "missing build packages: ${missing[*]} (apt-get install ${missing[*]})"
  # The same release configuration as scripts/run.sh.
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_TESTS=OFF \
        -DTW_BENCH=OFF -DUA_UPGRADE_PUBLIC_KEY="${UA_UPGRADE_PUBLIC_KEY:-}" >/dev/null
  cmake --build "$build_dir" --target update_agent zu_service_host -j "$(nproc)" >/dev/null
  say "built: $build_dir"
fi
built_agent=$build_dir/update_agent/update_agent
built_host=$build_dir/shared/loam/platform/service_host/zu_service_host
[ -x "$built_agent" ] && [ -x "$built_host" ] || die "no programs built in $build_dir"

install -d -m 0755 "$bin_dir"
put_file "$built_agent" "$agent" 0755
put_file "$built_host" "$host" 0755

# The unit with this install's paths.
unit_text=$(sed -e "s|^ExecStart=.*|ExecStart=$host boot|" \
                -e "s|^Environment=ZU_PLATFORM_ROOT=.*|Environment=ZU_PLATFORM_ROOT=$root|" \
                "$source_dir/packaging/systemd/$unit_name")
install -d -m 0755 "$unit_dir"
unit_changed=0
if [ -f "$unit_file" ] && [ "$(cat "$unit_file")" = "$unit_text" ]; then
  say "unchanged: $unit_file"
else
  printf '%s\n' "$unit_text" >"$unit_file.new"
  chmod 0644 "$unit_file.new"
  mv -f "$unit_file.new" "$unit_file"
  say "installed: $unit_file"
  unit_changed=1
fi
if [ "$use_systemctl" -eq 1 ]; then
  if [ "$unit_changed" -eq 1 ]; then systemctl daemon-reload; fi
  systemctl enable "$unit_name"
  say "enabled: $unit_name"
fi

# The agent registers itself: automatic start, local system account, "tcpip".
"$agent" -i || die "$agent -i failed"

if [ "$use_systemctl" -eq 1 ]; then
  if [ "$changed" -eq 1 ] || [ "$unit_changed" -eq 1 ]; then
    # New programs or unit: the host stops the services and starts them anew.
    systemctl restart "$unit_name"
    say "restarted: $unit_name"
  else
    systemctl start "$unit_name"
    say "started: $unit_name"
  fi
  say "state: systemctl status $unit_name; ZU_PLATFORM_ROOT=$root $agent -v"
else
  say "not run (--no-systemctl): systemctl enable and start $unit_name"
fi
say "install done"
