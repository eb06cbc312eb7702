#!/usr/bin/env bash
# Installs the Debian 12 packages that building the Debian packages
# (scripts/package.sh) and the booted-machine system test
# (scripts/system-test.sh) need on top of the build's own: dpkg-shlibdeps and
# lintian for the packages, debootstrap and systemd-nspawn for the machine.
# Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  # dpkg-shlibdeps (the packages' dependencies), dpkg-deb, lintian
  dpkg-dev file lintian
  # the test machine: a Debian 12 root, booted with systemd as PID 1
  debootstrap systemd-container util-linux iproute2
  # types the administrator's password on a pseudo-terminal
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
