#!/usr/bin/env python3
"""The DAT benchmarks: loading a DAT of -listxml size (40,000 sets, 300,000
ROMs, written by bench/make_listxml.py) in under 2 s and 256 MiB, measured
on bench/dat_load over several rounds (median wall time, highest peak RSS).

bench/run.py calls measure_dat_load for its Targets table. Run alone, this
script measures only these and rewrites the "## DAT loading" section of
bench/RESULTS.md, leaving the rest of the file as it was."""

import argparse
import datetime
import os
import re
import statistics
import subprocess
import sys

import run as bench

LOAD_SECONDS_LIMIT = 2.0
LOAD_RSS_LIMIT = 256 * 1024 * 1024
DAT_MACHINES = 40_000
DAT_ROMS = 300_000
SECTION_TITLE = "## DAT loading"


def listxml_dat(root):
    """The generated -listxml DAT, written once under the corpus root."""
    path = os.path.join(root, f"listxml-{DAT_MACHINES}-{DAT_ROMS}.xml")
    if not os.path.exists(path):
        os.makedirs(root, exist_ok=True)
        subprocess.run([sys.executable, os.path.join(bench.BENCH, "make_listxml.py"), "--machines",
                        str(DAT_MACHINES), "--roms", str(DAT_ROMS), "--out", path], check=True)
    return path


def measure_dat_load(options, notes):
    """dat_load on the generated DAT: one untimed run, then the rounds. Its
    target rows."""
    path = listxml_dat(options.corpus_root)
    print(f"DAT load: {os.path.getsize(path) / 1e6:.1f} MB", file=sys.stderr, flush=True)
    argv = [options.dat_load, path]
    _, text, error_text = bench.run_listing(argv)
    want = f"{DAT_MACHINES} sets, {DAT_ROMS} ROMs"
    well = text.startswith(want)
    notes.append(f"`dat_load` on the generated -listxml DAT: {text.strip()}" + ("" if well else " (WRONG)"))
    runs = [bench.run_once(argv)[0] for _ in range(options.rounds)]
    wall = statistics.median(run.wall for run in runs)
    cpu = statistics.median(run.cpu for run in runs)
    rss = max(run.max_rss for run in runs)
    size = f"{os.path.getsize(path) / 1e6:.1f} MB"
    return [bench.target_row(f"DAT of {DAT_MACHINES:,} sets and {DAT_ROMS:,} ROMs ({size} of -listxml): "
                             "median wall time of loading it", f"< {LOAD_SECONDS_LIMIT:.0f} s",
                             f"{wall:.2f} s ({cpu:.2f} s CPU)" + ("" if well else ", WRONG OUTPUT"),
                             well and wall < LOAD_SECONDS_LIMIT),
            bench.target_row("The same DAT: peak RSS of loading it", f"< {LOAD_RSS_LIMIT / bench.MIB:.0f} MiB",
                             f"{rss / bench.MIB:.1f} MiB ({(rss / DAT_ROMS):.0f} bytes per ROM, names included)",
                             well and rss < LOAD_RSS_LIMIT)]


def replace_section(path, lines):
    """Puts the section in RESULTS.md in place of its old text, or before the
    output notes when it has none."""
    text = open(path).read() if os.path.exists(path) else "# imgchk benchmark results\n"
    section = "\n".join(lines) + "\n\n"
    pattern = re.compile(re.escape(SECTION_TITLE) + r"\n.*?(?=^## |\Z)", re.S | re.M)
    if pattern.search(text):
        text = pattern.sub(lambda _: section, text, count=1)
    elif "## imgchk's output" in text:
        text = text.replace("## imgchk's output", section + "## imgchk's output", 1)
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(path, "w") as handle:
        handle.write(text)


def section_lines(rows, notes, rounds, started, load_before):
    return [SECTION_TITLE, "",
            f"Measured by `bench/dat_bench.py` on {started} UTC (load average {load_before:.2f} before the runs, "
            f"on a machine shared with other work): one untimed run, then {rounds} rounds; "
            "the median wall time and the highest peak RSS.", "",
            "| Target | Limit | Measured | Met |", "|---|---|---|---|", *rows, "",
            *[f"- {note}" for note in notes]]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dat-load", default=os.path.join(bench.REPO, "build", "bench", "dat_load"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--corpus-root", default=os.path.join(bench.BENCH, "out"))
    parser.add_argument("--output", default=os.path.join(bench.BENCH, "RESULTS.md"))
    options = parser.parse_args()
    if not os.access(options.dat_load, os.X_OK):
        parser.error(f"{options.dat_load} is not an executable; build it first (cmake --build build)")
    started = f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M}"
    notes = []
    load_before = os.getloadavg()[0]
    rows = measure_dat_load(options, notes)
    replace_section(options.output, section_lines(rows, notes, options.rounds, started, load_before))
    print("\n".join(rows))


if __name__ == "__main__":
    main()
