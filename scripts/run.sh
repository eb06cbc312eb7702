#!/usr/bin/env bash
# Installs what is missing, builds Beaconbar and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBCN_BUILD_TESTS=OFF
cmake --build build --target beaconbar
exec ./build/tools/beaconbar/beaconbar overview
