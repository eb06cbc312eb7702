#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time, seeded from
# fuzz/corpus/<target>/. Prints the executions per target and fails on the
# first finding, leaving the input that triggered it in build-fuzz/artifacts/.
#
#   bash scripts/fuzz.sh                 # every target, 30 s each (CI runs 15 s)
#   FUZZ_JOBS=1 bash scripts/fuzz.sh     # one target at a time (default: one per core)
#   bash scripts/fuzz.sh 3600 plist      # one target for an hour
#
# FUZZ_SEED=N fixes libFuzzer's random seed, so a run can be repeated
# input for input (CI uses it; left unset, every run explores afresh).
#
# Inputs that reach new code are kept in build-fuzz/corpus/<target>/ and
# reused by later runs; copy the useful ones into fuzz/corpus/ by hand.
# Reproduce a finding with: build-fuzz/fuzz/<target>_fuzz <artifact file>
#
# BCN_FUZZ_BUILD_ONLY=1 builds the targets and runs none. One run at a time
# holds build-fuzz/: a second waits for the first (CI builds the targets in
# the background while the suite runs).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per target] [target ...]" >&2
  exit 2
fi

mkdir -p build-fuzz
exec 9>build-fuzz/.lock
flock 9
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DBCN_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
  "${launcher[@]}" >/dev/null
cmake --build build-fuzz --parallel "$(nproc)"
[ "${BCN_FUZZ_BUILD_ONLY:-0}" = 1 ] && exit 0

if [ "$#" -eq 0 ]; then
  set -- $(find build-fuzz/fuzz -maxdepth 1 -type f -executable -name '*_fuzz' -printf '%f\n' | sed 's/_fuzz$//' | sort)
fi

# Readable stack traces in the logs: any llvm-symbolizer will do.
for symbolizer in /usr/lib/llvm-19/bin/llvm-symbolizer "$(command -v llvm-symbolizer || true)"; do
  if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && [ -x "$symbolizer" ]; then export ASAN_SYMBOLIZER_PATH=$symbolizer; fi
done

mkdir -p build-fuzz/artifacts build-fuzz/logs
# Each libFuzzer run is one single-threaded process, so the targets run
# side by side, one per core: every target still gets its full time on a
# core of its own, and the gate ends sooner.
jobs=${FUZZ_JOBS:-$(nproc)}
fuzz_one() {  # fuzz_one TARGET: runs it, leaves its summary line in build-fuzz/logs/TARGET.summary
  local target=$1
  local binary="build-fuzz/fuzz/${target}_fuzz" seeds="fuzz/corpus/$target" work="build-fuzz/corpus/$target"
  local log="build-fuzz/logs/$target.log" status=0 runs units
  mkdir -p "$work"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="build-fuzz/artifacts/$target-")
  [ -f "$binary.dict" ] && options+=(-dict="$binary.dict")
  [ -n "${FUZZ_SEED:-}" ] && options+=(-seed="$FUZZ_SEED")
  "$binary" "${options[@]}" "$work" "$seeds" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  units=$(find "$work" -type f | wc -l)
  if [ "$status" -eq 0 ]; then
    printf '%-18s %12s executions  %6s/s  %5s corpus inputs  clean\n' \
      "$target" "${runs:-?}" "$(( ${runs:-0} / seconds ))" "$units" >"build-fuzz/logs/$target.summary"
  else
    printf '%-18s %12s executions  FAILED (exit %d), log %s\n' "$target" "${runs:-?}" "$status" "$log" \
      >"build-fuzz/logs/$target.summary"
  fi
}
for target in "$@"; do
  [ -x "build-fuzz/fuzz/${target}_fuzz" ] || { echo "no fuzz target named $target" >&2; exit 2; }
  [ -d "fuzz/corpus/$target" ] || { echo "no seed corpus fuzz/corpus/$target" >&2; exit 2; }
  rm -f "build-fuzz/logs/$target.summary"
done
running=0
for target in "$@"; do
  if ((running >= jobs)); then wait -n || true; running=$((running - 1)); fi
  echo "== $target: ${seconds} s"
  fuzz_one "$target" &
  running=$((running + 1))
done
wait

summary=()
failed=()
for target in "$@"; do
  line=$(cat "build-fuzz/logs/$target.summary" 2>/dev/null || echo "$target: no result (the run was killed)")
  summary+=("$line")
  if [[ $line != *clean ]]; then
    failed+=("$target")
    grep -E -A 25 '^==[0-9]+== ?ERROR|runtime error|deadly signal|Timeout|out-of-memory' \
      "build-fuzz/logs/$target.log" | head -n 60 || tail -n 40 "build-fuzz/logs/$target.log"
  fi
done

echo
echo "Fuzzing summary (${seconds} s per target):"
printf '  %s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "findings in: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi
