#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the whole test suite, then runs each fuzz
# target for a bounded time (scripts/fuzz.sh). As root it also
# brings up the system bus and polkitd for the authorization tests, and
# takes down what it started when the run ends.
#
#   bash scripts/test.sh               # every part, as CI runs it
#   bash scripts/test.sh suite soak    # only the parts named:
#     suite  the build and every CTest case
#     soak   a minute of the daemon under a mixed client population (root)
#     fuzz   every fuzz target for 15 s
#     bench  the IPC benchmark at reduced size beside its anchor
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$#" -gt 0 ] || set -- suite soak fuzz bench
parts=" $* "
for part in "$@"; do
  case "$part" in
  suite|soak|fuzz|bench) ;;
  *) echo "test.sh: unknown part '$part' (suite, soak, fuzz, bench)" >&2; exit 2 ;;
  esac
done
wants() { [[ $parts == *" $1 "* ]]; }

purposes=(test)
wants fuzz && purposes+=(fuzz)
bash scripts/install-deps.sh "${purposes[@]}"

if wants suite || wants soak; then
  # Line tables only (-g1): the sanitizers' reports still name every frame
  # with its file and line, and the build and its links are cheaper.
  # ccache caches the suites' units only when told to accept the
  # precompiled header the build makes just before them (ccache(1),
  # "Precompiled headers"); nothing in the tree reads __DATE__ or __TIME__.
  launcher=()
  if command -v ccache >/dev/null; then
    ccache="env;CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime;ccache"
    launcher=("-DCMAKE_CXX_COMPILER_LAUNCHER=$ccache" "-DCMAKE_C_COMPILER_LAUNCHER=$ccache")
  fi
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBCN_SANITIZE=ON \
    -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 "${launcher[@]}"
  cmake --build build-sanitize
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if { wants suite || wants soak; } && [ "$(id -u)" = 0 ]; then
  trap 'bash scripts/polkit-test-env.sh stop' EXIT
  bash scripts/polkit-test-env.sh start
  export BCN_POLKIT_TEST=1
fi
if wants suite; then
  ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
fi

# A minute of the daemon under a mixed client population (needs root).
if wants soak && [ "$(id -u)" = 0 ]; then
  build-sanitize/daemon/load/beaconbar-soak --duration 60
fi

# Every fuzz target for 15 s, seeded from fuzz/corpus/. The seed is fixed so
# the gate is repeatable: a finding here shows up again on the same commit,
# and hunting for new ones is the job of longer local runs (README).
if wants fuzz; then
  FUZZ_SEED=1 bash scripts/fuzz.sh 15
fi

# The IPC round-trip benchmark at reduced size, optimised, beside its D-Bus
# anchor (bash scripts/bench.sh ipc_bench runs it at full size). Built in
# the packages' build directory with the packages' flags, so what it
# compiles is not compiled again when scripts/package.sh runs next.
if wants bench; then
  BCN_PACKAGE_TARGET=ipc_bench bash scripts/package.sh
  ./build-package/bench/ipc_bench --quick
fi
