#!/usr/bin/env bash
# Builds the Debian packages into build-package/packages/:
#   beaconbar        the command-line tool
#   beaconbar-admin  the admin daemon, its units, the polkit action, the
#                    console, beaconbar-adminctl, the registry tool and the
#                    uninstaller
#   libnetcore0      the shared library both link
#   libnetcore-dev   its headers, CMake package and pkg-config file
#   beaconbar-tray   the tray app with its menu entry and icon, and
#                    beaconbar-chart (the history charts)
# then checks them with lintian (errors fail the build).
#
# CPack's DEB generator rather than debhelper: the CMake install rules
# already say where every file goes and which package it belongs to (their
# components), so the packages come from the same rules as `cmake
# --install` and scripts/install.sh, with no second description of the
# layout in debian/ to keep in step. CPack still computes the dependencies
# from the binaries with dpkg-shlibdeps and strips them; the maintainer
# scripts (deploy/debian/) call deb-systemd-helper and deb-systemd-invoke
# as dh_installsystemd would.
#
# Built optimised, without tests, in its own build directory.
#   BCN_PACKAGE_REUSE=1      skip the build when the packages exist
#   BCN_PACKAGE_TARGET=NAME  build only target NAME there, benchmarks
#                            configured in, and make no packages (the test
#                            script's benchmark is built this way, with the
#                            packages' flags and objects)
# One run at a time holds the build directory: a second waits for the first
# (CI builds the packages in the background while the suite runs).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-package
out=$build/packages
mkdir -p "$build"
exec 9>"$build/.lock"
flock 9
if [ "${BCN_PACKAGE_REUSE:-0}" = 1 ] && compgen -G "$out/beaconbar-admin_*.deb" >/dev/null \
   && compgen -G "$out/beaconbar_*.deb" >/dev/null; then
  echo "package.sh: reusing $(ls "$out"/*.deb | tr '\n' ' ')"
  exit 0
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# -O2 as Debian builds its packages (CMake's Release default is -O3, which
# costs build time for nothing these programs measure).
configure() {
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBCN_BUILD_TESTS=OFF -DBCN_BUILD_BENCHMARKS="$1" \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_DOCDIR=share/doc/beaconbar-admin "${launcher[@]}" >/dev/null
}
if [ -n "${BCN_PACKAGE_TARGET:-}" ]; then
  configure ON
  cmake --build "$build" --target "$BCN_PACKAGE_TARGET"
  exit 0
fi

# The build's own packages, then dpkg-dev and lintian.
[ "$(id -u)" = 0 ] && bash scripts/install-deps.sh package
configure OFF
cmake --build "$build" -j"$(nproc)"
rm -rf "$out" && mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$PWD/packages" >/dev/null)
rm -rf "$out/_CPack_Packages"

for deb in "$out"/*.deb; do
  echo "== $(basename "$deb")"
  dpkg-deb --field "$deb" Package Version Depends Recommends | sed 's/^/   /'
done
# lintian's tags of severity error fail the build; warnings are shown.
lintian --fail-on error --suppress-tags no-manual-page "$out"/*.deb
echo "package.sh: packages in $out"
