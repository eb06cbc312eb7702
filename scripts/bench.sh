#!/usr/bin/env bash
# Builds an optimized tree and runs every benchmark under bench/ (or the ones
# named on the command line, e.g. `bash scripts/bench.sh history_bench`).
# Several need root (network namespaces, tun devices).
#
# Each benchmark prints, beside its own report, one tab-separated
# "bench-summary" line per target it checks (bench/summary_line.h); the
# closing table gathers them: benchmark, case, anchor ratio, floor ratio,
# target, and whether it was met.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBCN_BUILD_TESTS=OFF
cmake --build build-bench
if [ "$#" -eq 0 ]; then
  set -- $(find build-bench/bench -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
for b in "$@"; do
  echo "== $b"
  output=$(mktemp)
  status=0
  "build-bench/bench/$b" 2>&1 | tee "$output" || status=$?
  lines=$(grep -P '^bench-summary\t' "$output" || true)
  if [ "$status" -ne 0 ]; then
    printf 'bench-summary\t%s\t(exited %s)\t-\t-\t-\tfailed\n' "$b" "$status" >>"$summary"
  elif [ -z "$lines" ]; then
    printf 'bench-summary\t%s\t(no summary line)\t-\t-\t-\tn/a\n' "$b" >>"$summary"
  fi
  [ -z "$lines" ] || printf '%s\n' "$lines" >>"$summary"
  rm -f "$output"
done

echo
echo "== summary ($(uptime | sed 's/.*load/load/'))"
{
  printf 'BENCHMARK\tCASE\tANCHOR\tFLOOR\tTARGET\tRESULT\n'
  cut -f2- "$summary"
} | awk -F'\t' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } rows = NR; cols = NF > cols ? NF : cols }
  END { for (r = 1; r <= rows; r++) { line = ""; for (i = 1; i <= cols; i++) line = line sprintf("%-*s  ", width[i], cell[r, i]); sub(/ +$/, "", line); print line } }'
