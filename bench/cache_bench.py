#!/usr/bin/env python3
"""Measures imgchk --cache and writes its section of bench/RESULTS.md.

On each tree of the corpus (bench/make_corpus.py, as bench/run.py makes it)
every round runs, in turn: imgchk without the cache; imgchk --cache on a new,
empty cache (the first run); imgchk --cache again (the second run, every file
a hit); and `find TREE -printf '%s %T@\\n'`, the least a walk that looks at
every file's size and time can cost. Ratios are paired within a round, and
their medians reported. The targets: the second run at most 0.15 times the
first and at most 3 times find; the first run at most 1.15 times the run
without the cache. With --records, a million empty files: the cache file's
size per image and the second run's time, recorded.

Every run's listing is compared with the run without the cache.
"""

import argparse
import datetime
import os
import re
import statistics
import subprocess
import sys
import tempfile

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
import run as bench_run  # noqa: E402  (the corpus and the timed runs)

TARGET_SECOND_TO_FIRST = 0.15
TARGET_SECOND_TO_FIND = 3.0
TARGET_FIRST_TO_PLAIN = 1.15
SECTION = "## Cache"


def remove_cache(path):
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)


def listing(argv):
    run, text, errors = bench_run.run_listing(argv)
    return run, text + errors


def measure_tree(imgchk, tree, cache, rounds):
    """Per round: plain, first, second and find times; the listings checked."""
    plain_argv = [imgchk, tree]
    cache_argv = [imgchk, "--cache=" + cache, tree]
    find_argv = ["find", tree, "-printf", "%s %T@\\n"]
    _, want = listing(plain_argv)  # warm-up
    samples = []
    wrong = []
    for _ in range(rounds):
        plain, _ = listing(plain_argv)
        remove_cache(cache)
        first, first_text = listing(cache_argv)
        second, second_text = listing(cache_argv)
        found, _ = bench_run.run_once(find_argv)
        if first_text != want or second_text != want:
            wrong.append("first" if first_text != want else "second")
        samples.append((plain.wall, first.wall, second.wall, found.wall, first.cpu, plain.cpu))
    size = os.path.getsize(cache)
    return samples, wrong, size


def ratio(samples, top, bottom):
    values = [s[top] / s[bottom] for s in samples]
    return statistics.median(values), min(values), max(values)


def fmt_ratio(values):
    median, low, high = values
    return f"{median:.3f} ({low:.3f}–{high:.3f})"


def tree_rows(name, samples, wrong, size, images):
    plain, first, second, found = (statistics.median(s[k] for s in samples) for k in range(4))
    second_first = ratio(samples, 2, 1)
    second_find = ratio(samples, 2, 3)
    first_plain = ratio(samples, 1, 0)
    ok = "" if not wrong else " WRONG OUTPUT"
    return [
        f"| {name} | {images:,} | {plain:.3f} | {first:.3f} | {second:.3f} | {found:.3f} | "
        f"{fmt_ratio(second_first)} {'met' if second_first[0] <= TARGET_SECOND_TO_FIRST else 'NOT MET'} | "
        f"{fmt_ratio(second_find)} {'met' if second_find[0] <= TARGET_SECOND_TO_FIND else 'NOT MET'} | "
        f"{fmt_ratio(first_plain)} {'met' if first_plain[0] <= TARGET_FIRST_TO_PLAIN else 'NOT MET'} | "
        f"{size / images:.0f} B{ok} |"
    ]


def measure_records(imgchk, root, images, cache):
    path = bench_run.record_tree(root, images)
    remove_cache(cache)
    tree = os.path.join(path, "all")
    plain, _ = bench_run.run_once([imgchk, tree])
    first, _ = bench_run.run_once([imgchk, "--cache=" + cache, tree])
    second, _ = bench_run.run_once([imgchk, "--cache=" + cache, tree])
    found, _ = bench_run.run_once(["find", tree, "-printf", "%s %T@\\n"])
    size = os.path.getsize(cache)
    return (f"- {images:,} empty files: cache file {size / 1e6:.1f} MB, {size / images:.0f} bytes per image; "
            f"without the cache {plain.wall:.2f} s, first run {first.wall:.2f} s, second run {second.wall:.2f} s "
            f"(peak RSS {second.max_rss / bench_run.MIB:.0f} MiB), find {found.wall:.2f} s.")


def write_section(path, lines):
    text = open(path).read() if os.path.exists(path) else ""
    start = text.find("\n" + SECTION + "\n")
    if start >= 0:
        end = text.find("\n## ", start + 1)
        text = text[:start] + ("" if end < 0 else text[end:])
    with open(path, "w") as handle:
        handle.write(text.rstrip("\n") + "\n\n" + "\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--imgchk", default=os.path.join(REPO, "build", "imgchk"))
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--corpus", help="an existing corpus folder instead of making one")
    parser.add_argument("--corpus-root", default=os.path.join(BENCH, "out"))
    parser.add_argument("--records", type=int, nargs="?", const=1_000_000, default=0, metavar="IMAGES")
    parser.add_argument("--output", default=os.path.join(BENCH, "RESULTS.md"))
    options = parser.parse_args()
    if options.corpus:
        corpus = options.corpus
        manifest = bench_run.json.load(open(os.path.join(corpus, "manifest.json")))
    else:
        corpus, manifest = bench_run.make_corpus(options.corpus_root, options.seed, options.scale)
    load_before = os.getloadavg()[0]
    rows = []
    with tempfile.TemporaryDirectory() as scratch:
        cache = os.path.join(scratch, "cache.sqlite")
        for tree in bench_run.TREES:
            print(f"cache: {tree} tree", file=sys.stderr, flush=True)
            samples, wrong, size = measure_tree(options.imgchk, os.path.join(corpus, tree), cache, options.rounds)
            rows += tree_rows(bench_run.TREE_TITLES[tree], samples, wrong, size, manifest["trees"][tree]["images"])
        records = measure_records(options.imgchk, options.corpus_root, options.records, cache) \
            if options.records else None
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    lines = [
        SECTION,
        "",
        f"Written by `bench/cache_bench.py` on {now}: corpus `{corpus}`, {options.rounds} rounds, each running "
        "imgchk without the cache, with a new cache (first run), with it again (second run, every file a hit) "
        "and `find TREE -printf '%s %T@\\n'`, in turn; every worker count the default. "
        f"Load average {load_before:.2f} before, {os.getloadavg()[0]:.2f} after. Times are median wall seconds; "
        "ratios are paired within a round, median (range). Targets: second/first ≤ 0.15, second/find ≤ 3, "
        "first/without ≤ 1.15. Cache bytes per image: the cache file's size over the tree's images.",
        "",
        "| Tree | Images | Without (s) | First (s) | Second (s) | find (s) | Second / first | Second / find "
        "| First / without | Cache per image |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ] + rows
    if records:
        lines += ["", records]
    write_section(options.output, lines)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
