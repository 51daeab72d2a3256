#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; a ready machine is
# left alone. Run as root (or with passwordless sudo).
set -euo pipefail

pkgs=(cmake ninja-build g++ pkg-config libcrypto++-dev libgtest-dev libgmock-dev
      libbenchmark-dev "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
