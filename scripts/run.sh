#!/usr/bin/env bash
# Installs what is missing, builds Beaconbar's command-line tool and runs the
# main job. Only the tool: the daemon, the console, the tests and the
# benchmarks (and Qt, GoogleTest and clang with them) are left out, so a new
# machine gets there in a few minutes. Optimised without debugging
# information: -g costs a fifth of the build's time in the JSON-heavy
# sources and the main job has no use for it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh main
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBCN_BUILD_TESTS=OFF \
  -DBCN_BUILD_BENCHMARKS=OFF -DBCN_BUILD_CONSOLE=OFF -DBCN_BUILD_EXPORTER=OFF
cmake --build build --target beaconbar
exec ./build/tools/beaconbar/beaconbar overview
