#!/usr/bin/env bash
# Builds Beaconbar optimised and installs it into /usr as root: the daemon
# and its systemd units, the polkit action, the command-line tools and the
# console, each program recorded in the code-identity registry
# (/etc/beaconbar/code-identities.plist) so the daemon admits it. Then
# enables the daemon's sockets when systemd runs this machine, or says how
# to start the daemon by hand when it does not.
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$(id -u)" = 0 ] || { echo "install.sh: run as root" >&2; exit 1; }
bash scripts/install-deps.sh build
cmake -S . -B build-install -G Ninja -DCMAKE_BUILD_TYPE=Release -DBCN_BUILD_TESTS=OFF \
  -DBCN_BUILD_BENCHMARKS=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build-install
cmake --install build-install
# The programs find libnetcore.so.0 in /usr/lib/<multiarch> through the
# loader's cache.
ldconfig

if [ -d /run/systemd/system ]; then
  systemctl daemon-reload
  systemctl enable --now beaconbar-admin.socket beaconbar-admin-control.socket
  echo "beaconbar-admin: sockets enabled; the daemon starts on the first connection."
else
  echo "No systemd here. Start the daemon by hand (it binds its own sockets):"
  echo "  STATE_DIRECTORY=/var/lib/beaconbar-admin RUNTIME_DIRECTORY=/run/beaconbar \\"
  echo "    CONFIGURATION_DIRECTORY=/etc/beaconbar /usr/libexec/beaconbar-admin/beaconbar-admind &"
fi
