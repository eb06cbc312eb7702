#!/usr/bin/env bash
# Builds an optimized tree and runs every benchmark under bench/ (or the ones
# named on the command line, e.g. `bash scripts/bench.sh history_bench`).
# Several need root (network namespaces, tun devices).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBCN_BUILD_TESTS=OFF
cmake --build build-bench
if [ "$#" -eq 0 ]; then
  set -- $(find build-bench/bench -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
for b in "$@"; do
  echo "== $b"
  "build-bench/bench/$b"
done
