#!/usr/bin/env python3
"""Compares ipc_bench binaries (say, before and after a change) in one sitting.

Runs each binary ROUNDS times, in a fresh random order every round, so that
load coming and going on the machine falls on all of them alike, and prints
for each the medians over its runs: p50, calls/s and p99 of every row, and
their ratios to the floor measured in the same run. Binaries that predate a
row (the daemon or coded rows) simply show fewer rows.

  python3 scripts/ipc-bench-compare.py [--rounds N] [--clients N] BINARY...

Each run is full length (2 s per row and load); --clients limits it to one
load, for binaries that take --clients (older ones exit at the flag and are
reported as giving no figures).
"""
import argparse
import random
import re
import statistics
import subprocess
import sys

ROWS = ("ipc sync", "ipc", "daemon", "coded", "floor")
LINE = re.compile(r"^(ipc sync|ipc|daemon|floor|coded|d-bus)\s+(\d+) clients:\s+(\d+) calls/s\s+"
                  r"p50\s+([\d.]+) us\s+p99\s+([\d.]+) us")


def run(binary, clients):
    """One run: {(row, clients): (calls/s, p50, p99)}."""
    args = [binary] + (["--clients", str(clients)] if clients else [])
    out = subprocess.run(args, capture_output=True, text=True, check=False).stdout
    figures = {}
    for line in out.splitlines():
        m = LINE.match(line)
        if m:
            figures[(m.group(1), int(m.group(2)))] = tuple(float(m.group(i)) for i in (3, 4, 5))
    if not figures:
        print(f"{binary}: no figures in its output", file=sys.stderr)
    return figures


def report(binary, runs):
    print(f"== {binary} ({len(runs)} runs)")
    loads = sorted({load for figures in runs for (_, load) in figures})
    for load in loads:
        for row in ROWS:
            pairs = [(f[(row, load)], f[("floor", load)]) for f in runs if (row, load) in f and ("floor", load) in f]
            if not pairs:
                continue
            med = lambda pick: statistics.median(pick(ours, floor) for ours, floor in pairs)
            line = (f"  {load:3d} {row:8s} p50 {med(lambda o, f: o[1]):8.1f} us  calls/s {med(lambda o, f: o[0]):8.0f}"
                    f"  p99 {med(lambda o, f: o[2]):8.1f} us")
            if row != "floor":
                line += (f"  | vs floor: p50 {med(lambda o, f: o[1] / f[1]):.2f}x,"
                         f" calls/s {med(lambda o, f: o[0] / f[0]):.2f}x")
            print(line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--clients", type=int, default=0, help="one load only (binaries that know --clients)")
    parser.add_argument("binaries", nargs="+")
    options = parser.parse_args()
    runs = {binary: [] for binary in options.binaries}
    for round_number in range(options.rounds):
        order = list(options.binaries)
        random.shuffle(order)
        for binary in order:
            runs[binary].append(run(binary, options.clients))
            print(f"round {round_number + 1}/{options.rounds}: {binary}", file=sys.stderr)
    for binary in options.binaries:
        report(binary, runs[binary])


if __name__ == "__main__":
    main()
