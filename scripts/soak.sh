#!/usr/bin/env bash
# Runs the daemon soak for longer than CI does: scripts/soak.sh [SECONDS]
# (default 3600). Builds the sanitizer tree's soak program and its clients,
# brings up polkitd and its test users for the approvals, and takes them
# down again afterwards. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$(id -u)" = 0 ] || { echo "the soak needs root" >&2; exit 2; }
seconds="${1:-3600}"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBCN_SANITIZE=ON
cmake --build build-sanitize --target beaconbar-soak
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
trap 'bash scripts/polkit-test-env.sh stop' EXIT
bash scripts/polkit-test-env.sh start
BCN_POLKIT_TEST=1 build-sanitize/daemon/load/beaconbar-soak --duration "$seconds"
