#!/usr/bin/env python3
"""The DAT benchmarks: loading a DAT of -listxml size (40,000 sets, 300,000
ROMs, written by bench/make_listxml.py) in under 2 s and 256 MiB, measured
on bench/dat_load over several rounds (median wall time, highest peak RSS);
and auditing the loose and zip trees of the corpus against a DAT of all
their images (written by imgchk --dir2dat, keeping CRC-32 and SHA-1 as most
DATs give them) within 1.3 times the plain listing of the same tree, the two
paired in the same rounds.

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

AUDIT_RATIO_LIMIT = 1.3
LOAD_SECONDS_LIMIT = 2.0
LOAD_RSS_LIMIT = 256 * 1024 * 1024
DAT_MACHINES = 40_000
DAT_ROMS = 300_000
SECTION_TITLE = "## DAT loading and audit"


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


def tree_dat(imgchk, tree_path, dat_path):
    """A DAT of every image of the tree, without the SHA-256s."""
    if os.path.exists(dat_path):
        return dat_path
    subprocess.run([imgchk, "--dir2dat", dat_path + ".part", tree_path], check=True, stdout=subprocess.DEVNULL)
    text = open(dat_path + ".part").read()
    with open(dat_path, "w") as out:
        out.write(re.sub(r' sha256="[0-9a-f]{64}"', "", text))
    os.remove(dat_path + ".part")
    return dat_path


def measure_audit(options, corpus_path, notes):
    """imgchk -j1 listing and auditing each tree, in the same rounds. Target rows."""
    rows = []
    for tree in ("loose", "zip"):
        path = os.path.join(corpus_path, tree)
        dat = tree_dat(options.imgchk, path, os.path.join(corpus_path, f"{tree}-all.dat"))
        listing = [options.imgchk, "-j1", path]
        audit = [options.imgchk, "-j1", "--dat", dat, path]
        print(f"audit: {tree} tree", file=sys.stderr, flush=True)
        bench.run_listing(listing)
        _, text, error_text = bench.run_listing(audit)
        last = text.strip().splitlines()[-1] if text.strip() else ""
        well = re.fullmatch(r"(\d+) sets: \1 complete, 0 partial, 0 missing; (\d+) of \2 ROMs; 0 unknown images", last)
        notes.append(f"`imgchk -j1 --dat DAT TREE` on the {tree} tree: `{last}`" + ("" if well else " (WRONG)"))
        ratios, audit_runs = [], []
        for _ in range(options.rounds):
            base = bench.run_once(listing)[0]
            run = bench.run_once(audit)[0]
            ratios.append(run.wall / base.wall)
            audit_runs.append(run)
        ratio = statistics.median(ratios)
        rss = max(run.max_rss for run in audit_runs)
        rows.append(bench.target_row(f"{bench.TREE_TITLES[tree]}: imgchk -j1 --dat DAT / imgchk -j1, median paired "
                                     "wall ratio", f"≤ {AUDIT_RATIO_LIMIT:.2f}×",
                                     f"{ratio:.2f}× (range {min(ratios):.2f}–{max(ratios):.2f}; peak RSS "
                                     f"{rss / bench.MIB:.1f} MiB)" + ("" if well else ", WRONG OUTPUT"),
                                     bool(well) and ratio <= AUDIT_RATIO_LIMIT))
    return rows


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


def section_lines(rows, notes, rounds, started, load_before, scale):
    return [SECTION_TITLE, "",
            f"Measured by `bench/dat_bench.py` on {started} UTC (load average {load_before:.2f} before the runs, "
            f"on a machine shared with other work): one untimed run, then {rounds} rounds; "
            "the median wall time and the highest peak RSS. The audit runs on the corpus at "
            f"scale {scale:g}, each round running the listing and then the audit of a tree.", "",
            "| Target | Limit | Measured | Met |", "|---|---|---|---|", *rows, "",
            *[f"- {note}" for note in notes]]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dat-load", default=os.path.join(bench.REPO, "build", "bench", "dat_load"))
    parser.add_argument("--imgchk", default=os.path.join(bench.REPO, "build", "imgchk"))
    parser.add_argument("--scale", type=float, default=0.25, help="corpus scale of the audit")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--corpus-root", default=os.path.join(bench.BENCH, "out"))
    parser.add_argument("--output", default=os.path.join(bench.BENCH, "RESULTS.md"))
    options = parser.parse_args()
    for program in (options.dat_load, options.imgchk):
        if not os.access(program, os.X_OK):
            parser.error(f"{program} is not an executable; build it first (cmake --build build)")
    options.imgchk = os.path.abspath(options.imgchk)
    started = f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M}"
    notes = []
    load_before = os.getloadavg()[0]
    rows = measure_dat_load(options, notes)
    corpus_path, _ = bench.make_corpus(options.corpus_root, options.seed, options.scale)
    rows += measure_audit(options, corpus_path, notes)
    replace_section(options.output, section_lines(rows, notes, options.rounds, started, load_before, options.scale))
    print("\n".join(rows))


if __name__ == "__main__":
    main()
