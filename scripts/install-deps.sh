#!/usr/bin/env bash
# Installs the Debian 12 packages a job needs, by purpose:
#
#   bash scripts/install-deps.sh main    build and run `beaconbar` (scripts/run.sh)
#   bash scripts/install-deps.sh build   build and install everything: the daemon,
#                                        the console, the benchmarks (scripts/install.sh)
#   bash scripts/install-deps.sh test    run the test suite (with build)
#   bash scripts/install-deps.sh fuzz    build and run the fuzz targets (with main)
#   bash scripts/install-deps.sh package the Debian packages and the booted-machine
#                                        system test (scripts/package.sh, system-test.sh)
#   bash scripts/install-deps.sh         main, build, test and fuzz
#
# Several purposes may be named at once. Safe to run again: only what is
# missing is installed, and nothing is fetched when all is present.
set -euo pipefail

# The command-line tool: compiler, CMake, and the libraries NetCore links.
main=(
  g++ cmake ninja-build pkg-config
  # property lists, crypto/TLS (and the certificates the public address
  # lookup checks servers against), async I/O, JSON, URI parsing
  libplist-dev libssl-dev ca-certificates libasio-dev nlohmann-json3-dev liburiparser-dev
  # journald and socket activation, netlink
  libsystemd-dev libnl-3-dev libnl-route-3-dev
  # command-line parsing
  libcli11-dev
)
# Everything else the tree builds, and what the installed daemon runs with.
build=(
  "${main[@]}" build-essential git
  # admin console and beaconbar-adminctl
  qt6-base-dev
  # the tray's history charts and beaconbar-chart's PNG and SVG pictures
  # (Qt Charts' CMake package asks for Qt OpenGL's, which is not pulled in)
  qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
  # benchmarks
  libbenchmark-dev
  # the daemon's units and its administrator authorization (polkitd also
  # ships pkttyagent, the terminal agent beaconbar-adminctl starts where no
  # desktop agent runs)
  systemd dbus polkitd pkexec iproute2
  # NetCore's API reference (the docs target)
  doxygen
  # beaconbar-exporter's HTTP server (Boost.Beast, header-only)
  libboost-dev
)
test=(
  "${build[@]}" libgtest-dev libgmock-dev
  # process inspection used by the tests (runuser, setpriv)
  util-linux procps
  # anchor of the tunnel-owner benchmark
  lsof
  # the public address lookup benchmark's anchor
  curl
)
# the exporter's tests: promtool, a Prometheus server, node_exporter's textfile collector
test+=(prometheus prometheus-node-exporter)
# the tray's idle benchmark runs vnstat's daemon beside it as its anchor
test+=(vnstat)
# The suite's, the fuzz targets' and the packages' builds go through a
# compiler cache: a run after a small change compiles only what it touched.
test+=(ccache)
# libFuzzer and the sanitizer runtimes (clang 14 cannot compile
# std::expected against GCC 12's library; 19 can).
fuzz=("${main[@]}" clang-19 libclang-rt-19-dev ccache)
# On top of the build's own: dpkg-shlibdeps, dpkg-deb and lintian for the
# packages; debootstrap and systemd-nspawn for a Debian 12 root booted with
# systemd as PID 1; python3 types the administrator's password on a
# pseudo-terminal there.
package=(
  "${build[@]}" dpkg-dev file lintian ccache
  debootstrap systemd-container util-linux iproute2
  python3
)

[ "$#" -gt 0 ] || set -- test fuzz
packages=()
for purpose in "$@"; do
  case "$purpose" in
  main) packages+=("${main[@]}") ;;
  build) packages+=("${build[@]}") ;;
  test) packages+=("${test[@]}") ;;
  fuzz) packages+=("${fuzz[@]}") ;;
  package) packages+=("${package[@]}") ;;
  *) echo "install-deps.sh: unknown purpose '$purpose' (main, build, test, fuzz, package)" >&2; exit 2 ;;
  esac
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
