#!/usr/bin/env python3
"""The audit against an earlier build: each case run by the two programs in
turn, round after round, and the median of the paired wall-time ratios (new
over old) printed with their range and the median CPU times. The cases: the
repository's examples against examples/samples.dat and against a generated
-listxml DAT of 40,000 sets (bench/make_listxml.py), and the corpus's loose
tree (at --scale) against a DAT of its images. An audit that finds something
lacking exits with 2, so any status below 8 counts as a finished run."""

import argparse
import os
import statistics
import subprocess
import sys
import time

import dat_bench
import run as bench


def run_timed(argv):
    """Wall and CPU seconds of one run; its exit status must be 0, 2, 4 or 6."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code not in (0, 2, 4, 6):
        raise SystemExit(f"exit status {code}: {' '.join(argv)}")
    return wall, usage.ru_utime + usage.ru_stime


def paired(label, new, old, args, rounds):
    run_timed([new, *args])
    run_timed([old, *args])
    ratios, new_cpu, old_cpu = [], [], []
    for _ in range(rounds):
        old_wall, old_seconds = run_timed([old, *args])
        new_wall, new_seconds = run_timed([new, *args])
        ratios.append(new_wall / old_wall)
        new_cpu.append(new_seconds)
        old_cpu.append(old_seconds)
    print(f"| {label} | {statistics.median(ratios):.3f}× ({min(ratios):.2f}–{max(ratios):.2f}) | "
          f"{statistics.median(new_cpu):.3f} s | {statistics.median(old_cpu):.3f} s |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--imgchk", default=os.path.join(bench.REPO, "build", "imgchk"))
    parser.add_argument("--baseline", required=True, help="the earlier build's imgchk")
    parser.add_argument("--scale", type=float, default=0.05, help="corpus scale of the loose tree")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--corpus-root", default=os.path.join(bench.BENCH, "out"))
    options = parser.parse_args()
    new, old = os.path.abspath(options.imgchk), os.path.abspath(options.baseline)
    examples = os.path.join(bench.REPO, "examples")
    listxml = dat_bench.listxml_dat(options.corpus_root)
    corpus_path, _ = bench.make_corpus(options.corpus_root, options.seed, options.scale)
    loose = os.path.join(corpus_path, "loose")
    loose_dat = dat_bench.tree_dat(old, loose, os.path.join(corpus_path, "loose-all.dat"))
    print(f"load average {os.getloadavg()[0]:.2f}; {options.rounds} rounds, -j1", file=sys.stderr)
    print("| Audit | new / old wall, median (range) | new CPU | old CPU |\n|---|---|---|---|")
    cases = [("examples/roms against examples/samples.dat", ["--dat", os.path.join(examples, "samples.dat")]),
             ("examples/roms against the 40,000-set -listxml DAT", ["--dat", listxml])]
    for label, dat_args in cases:
        paired(label, new, old, ["-j1", *dat_args, os.path.join(examples, "roms")], options.rounds)
    paired(f"the corpus's loose tree (scale {options.scale:g}) against its own DAT", new, old,
           ["-j1", "--dat", loose_dat, loose], options.rounds)


if __name__ == "__main__":
    main()
