#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the tools need.
# Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # fuzzing: libFuzzer and the sanitizer runtimes (clang 14 cannot compile
  # std::expected against GCC 12's library; 19 can)
  clang-19 libclang-rt-19-dev
  # property lists, crypto/TLS, async I/O, JSON, URI parsing
  libplist-dev libplist++-dev libssl-dev ca-certificates libasio-dev
  nlohmann-json3-dev liburiparser-dev
  # systemd socket activation and journald, netlink
  libsystemd-dev systemd libnl-3-dev libnl-route-3-dev iproute2
  # administrator authorization (polkitd also ships pkttyagent, the terminal
  # agent beaconbar-adminctl starts where no desktop agent runs)
  dbus polkitd pkexec
  # admin console and command-line parsing
  qt6-base-dev libcli11-dev
  # process inspection used by the tests (runuser, setpriv)
  util-linux procps
  # anchor of the tunnel-owner benchmark
  lsof
  # the public address lookup benchmark's anchor
  curl
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
