#!/usr/bin/env python3
"""Rebuild benchmark: sets packed as 7z archives, rebuilt into TorrentZip by
imgchk --rebuild, against the same work by standard tools (per set: 7zz x
into a scratch folder, then zip -9 -X -q -r).

Adds a section to bench/RESULTS.md with --record."""

import argparse
import os
import random
import shutil
import subprocess
import tempfile
import time
import zlib
import hashlib

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SECTION = "## Rebuild:"


def make_sets(root, sets, roms, seed):
    rng = random.Random(seed)
    src = os.path.join(root, "src")
    os.makedirs(src)
    games = []
    for s in range(sets):
        name = "set%04d" % s
        folder = os.path.join(root, "loose", name)
        os.makedirs(folder)
        entries = []
        for r in range(roms):
            size = rng.choice([16 << 10, 64 << 10, 256 << 10, 1 << 20])
            # Half random, half repeated: compressible as ROMs are.
            half = rng.randbytes(size // 2)
            data = half + bytes(size - len(half))
            rom = "rom%02d.bin" % r
            with open(os.path.join(folder, rom), "wb") as f:
                f.write(data)
            entries.append('<rom name="%s" size="%d" crc="%08x" sha1="%s"/>'
                           % (rom, size, zlib.crc32(data), hashlib.sha1(data).hexdigest()))
        subprocess.run(["7zz", "a", "-bd", "-bso0", os.path.join(src, name + ".7z"), "."], cwd=folder, check=True)
        games.append('<game name="%s">%s</game>' % (name, "".join(entries)))
    shutil.rmtree(os.path.join(root, "loose"))
    # The cache does not trust files changed in the last minutes: aged, as a
    # collection is.
    aged = time.time() - 7200
    for name in os.listdir(src):
        os.utime(os.path.join(src, name), (aged, aged))
    with open(os.path.join(root, "sets.dat"), "w") as f:
        f.write('<?xml version="1.0"?>\n<datafile><header><name>bench</name></header>\n%s\n</datafile>\n'
                % "\n".join(games))


def timed(argv, cwd):
    """Wall seconds and peak RSS (KiB) of the command, through GNU time."""
    start = time.monotonic()
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, check=False)
    wall = time.monotonic() - start
    rss = int(out.stderr.decode().strip().splitlines()[-1])
    return wall, rss


def standard_tools(root):
    script = ("set -e; rm -rf tools-out scratch; mkdir tools-out; for a in src/*.7z; do n=$(basename \"$a\" .7z); "
              "rm -rf scratch; mkdir scratch; 7zz x -bd -bso0 -oscratch \"$a\"; "
              "(cd scratch && zip -9 -X -q -r \"../tools-out/$n.zip\" .); done; rm -rf scratch")
    return timed(["sh", "-c", script], root)


def write_section(path, text):
    """Puts the section in place of any earlier rebuild section, at the end."""
    old = open(path).read() if os.path.exists(path) else ""
    while True:
        start = old.find("\n" + SECTION)
        if start < 0:
            break
        end = old.find("\n## ", start + 1)
        old = old[:start] + ("" if end < 0 else old[end:])
    with open(path, "w") as f:
        f.write(old.rstrip("\n") + "\n" + text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--imgchk", default=os.path.join(REPO, "build", "imgchk"))
    parser.add_argument("--sets", type=int, default=60)
    parser.add_argument("--roms", type=int, default=6)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--record", action="store_true", help="append the results to bench/RESULTS.md")
    options = parser.parse_args()
    imgchk = os.path.abspath(options.imgchk)
    root = tempfile.mkdtemp(prefix="imgchk-rebuild-bench-")
    try:
        make_sets(root, options.sets, options.roms, 1)
        packed = sum(os.path.getsize(os.path.join(root, "src", n)) for n in os.listdir(os.path.join(root, "src")))
        rows = {"tools": [], "j1": [], "jN": [], "kept": [], "kept2": []}
        for _ in range(options.rounds):
            rows["tools"].append(standard_tools(root))
            for key, jobs in (("j1", ["-j1"]), ("jN", [])):
                shutil.rmtree(os.path.join(root, "out"), ignore_errors=True)
                cache = os.path.join(root, "cache.sqlite")
                if os.path.exists(cache):
                    os.remove(cache)
                rows[key].append(timed([imgchk] + jobs + ["--cache=" + cache, "--dat", "sets.dat", "--rebuild",
                                                          "out", "src"], root))
            for key in ("kept", "kept2"):
                rows[key].append(timed([imgchk, "--cache=" + os.path.join(root, "cache.sqlite"), "--dat", "sets.dat",
                                        "--rebuild", "out", "src"], root))
        median = {k: sorted(w for w, _ in v)[len(v) // 2] for k, v in rows.items()}
        peak = {k: max(r for _, r in v) / 1024 for k, v in rows.items()}
        lines = [
            "",
            SECTION + " %d sets of %d ROMs packed as 7z (%.1f MB), rebuilt into TorrentZip" % (
                options.sets, options.roms, packed / 1e6),
            "",
            "Written by `bench/rebuild_bench.py` on %s, %d rounds, medians; nproc %d; load average before: %s." % (
                time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), options.rounds, os.cpu_count(),
                open("/proc/loadavg").read().split()[0]),
            "",
            "| Command | Wall s | Peak RSS MiB |",
            "|---|---:|---:|",
            "| per set `7zz x` then `zip -9 -X -q -r` | %.2f | %.1f |" % (median["tools"], peak["tools"]),
            "| `imgchk -j1 --rebuild` | %.2f | %.1f |" % (median["j1"], peak["j1"]),
            "| `imgchk --rebuild` (default threads) | %.2f | %.1f |" % (median["jN"], peak["jN"]),
            "| `imgchk --cache --rebuild`, all kept (second run) | %.2f | %.1f |" % (median["kept"], peak["kept"]),
            "| the same again (third run: OUT's archives cached too) | %.2f | %.1f |" % (median["kept2"], peak["kept2"]),
            "",
            "| Target | Limit | Measured |",
            "|---|---|---|",
            "| -j1 / standard tools | ≤ 1.3× | %.2f× |" % (median["j1"] / median["tools"]),
            "| default threads / -j1 | ≤ 0.6× | %.2f× |" % (median["jN"] / median["j1"]),
            "| second run with the cache, all kept / first | ≤ 0.15× | %.2f× |" % (median["kept"] / median["jN"]),
            "| third run / first | none, for reference | %.2f× |" % (median["kept2"] / median["jN"]),
            "",
        ]
        text = "\n".join(lines)
        print(text)
        if options.record:
            write_section(os.path.join(REPO, "bench", "RESULTS.md"), text)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
