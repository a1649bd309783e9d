#!/usr/bin/env python3
"""Benchmarks imgchk against the floors of its work and against the programs
a user would run instead, and writes bench/RESULTS.md.

Every command runs on the same generated corpus (bench/make_corpus.py): first
once untimed, to warm the page cache and to stop at once if a command fails,
then in rounds, each round running every command once in turn, so that a
command and its floor always run close together. The floor of a tree is the
least work of summarising its images, on one thread: bench/read_floor
--digest (read, CRC-32, byte sum, SHA-256) for the loose tree, bench/zip_floor
--digest (the same, inflating) for the zip tree; for the many small files,
where the cost is per file, plain read_floor (read, CRC-32); for the 7z tree
`7zz t` on each archive, on one thread; for the tar.gz tree GNU tar
extracting each archive to standard output. The other floors
and `cat` run beside them for reference. Each run's wall time is divided by
its floor's in the same round (the paired ratio), which holds up far better
than raw times on a shared machine.

The targets: imgchk within 1.15 times the floor on the loose and zip trees,
1.3 times on the small files and 1.5 times on the 7z tree; a peak RSS of at most 64 MiB on every tree
(modes All and -m1) and on two images of more than 4 GiB, a sparse file and a
zip64 archive's entry, made once under the corpus root; and, with --records,
at most 200 bytes per image beyond its name, measured over a million empty
files.

With --growth, the floors and imgchk also run on corpora of other scales, and
RESULTS.md gets a table of how time and memory grow with the image bytes.

The DAT targets come from bench/dat_bench.py, which can also run alone.
"""

import argparse
import datetime
import json
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib
from dataclasses import dataclass, field

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
MIB = 1024 * 1024
GNU_TIME = "/usr/bin/time"
TREES = ("loose", "small", "zip", "7z", "targz")
TREE_TITLES = {"loose": "Loose tree", "small": "Many-small-files tree", "zip": "Zip tree", "7z": "7z tree",
               "targz": "tar.gz tree"}
GIB = 1024 * MIB
# The targets: imgchk's paired ratio to the tree's floor; peak RSS, whatever
# the images; bytes per image beyond its name.
# The tar.gz tree has no targets: it is measured for reference.
RATIO_TARGETS = {"loose": 1.15, "small": 1.3, "zip": 1.15, "7z": 1.5}  # imgchk -j1 / the tree's floor
THREAD_TARGETS = {"loose": 0.6, "small": 0.8, "zip": 0.6, "7z": 0.6}  # imgchk (every core) / imgchk -j1
RSS_LIMIT = 64 * MIB  # one thread
RSS_PER_WORKER = 32 * MIB
RECORD_LIMIT = 200
SPARSE_SIZE = 4 * GIB + 5
ZIP64_ENTRY_SIZE = 5 * GIB
ZIP64_ENTRY_NAME = "zeros.bin"
RECORDS_PER_FOLDER = 1000
TINY_TREE_IMAGES = 10
PEER_PACKAGES = ["rhash", "fdupes", "jdupes", "unzip", "libarchive-tools", "p7zip-full", "7zip", "tar",
                 "libdeflate0", "coreutils", "findutils"]


@dataclass
class Run:
    wall: float
    cpu: float
    max_rss: int  # bytes


@dataclass
class Command:
    tree: str
    scale: float
    name: str
    argv: list
    shown: str          # the command line as the results show it
    role: str           # "floor", "reference" (another floor, or cat), "peer", "imgchk" or "baseline"
    mode: str = ""      # "All" or "M1" for imgchk
    runs: list = field(default_factory=list)


class CommandFailed(Exception):
    pass


# ---------------------------------------------------------------- running

def run_once(argv, stdout=subprocess.DEVNULL, cwd=None):
    """Runs argv to completion; returns its Run and what it wrote to stderr.
    CPU time comes from wait4, so it covers every process the command started
    and waited for. Peak RSS comes from GNU time around the command: a child
    forked from this script inherits the script's own high-water mark, which
    would hide anything smaller; time's is a megabyte."""
    with tempfile.TemporaryFile() as errors, tempfile.NamedTemporaryFile("r") as rss_file:
        start = time.perf_counter()
        child = subprocess.Popen([GNU_TIME, "-f", "%M", "-o", rss_file.name, *argv],
                                 stdin=subprocess.DEVNULL, stdout=stdout, stderr=errors, cwd=cwd)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        errors.seek(0)
        error_text = errors.read().decode(errors="replace")
        rss_lines = rss_file.read().split()
    if child.returncode != 0:
        raise CommandFailed(f"exit status {child.returncode}: {' '.join(argv)}\n{error_text[-2000:]}")
    return Run(wall, usage.ru_utime + usage.ru_stime, int(rss_lines[-1]) * 1024), error_text


def run_listing(argv, cwd=None):
    """run_once that also returns what the command wrote to stdout."""
    with tempfile.TemporaryFile() as output:
        run, error_text = run_once(argv, stdout=output, cwd=cwd)
        output.seek(0)
        return run, output.read().decode(errors="replace"), error_text


def shell(script, tree):
    """A shell pipeline with the tree as $1, so no quoting is needed."""
    return ["sh", "-c", script, "sh", tree]


def per_archive(program, pattern="*.zip"):
    return f"find \"$1\" -type f -iname '{pattern}' -print0 | xargs -0 -n1 {program}"


# The floors of the trees of 7z and tar.gz archives: the archivers' own
# readers, one archive at a time, one thread, the bytes thrown away.
ARCHIVER_FLOORS = {
    "7z": ("7zz t, per archive", per_archive("7zz t -bd -bso0 -mmt1", "*.7z")),
    "targz": ("tar -xzOf, per archive", per_archive("tar -xzOf", "*.tar.gz") + " >/dev/null"),
}


def floor_commands(tree, path, scale, options):
    """The tree's floor, which the ratios divide by, then the other floors for
    reference: the floor program with and without --digest and, for the loose
    trees, cat, whose own per-file overhead can outweigh the reading."""
    if tree in ARCHIVER_FLOORS:
        name, script = ARCHIVER_FLOORS[tree]
        return [Command(tree, scale, name, shell(script, path), script.replace('"$1"', "TREE"), "floor")]
    name, program = ("zip_floor", options.zip_floor) if tree == "zip" else ("read_floor", options.read_floor)
    floors = [Command(tree, scale, f"{name} --digest", [program, "--digest", path], f"{name} --digest TREE",
                      "reference"),
              Command(tree, scale, name, [program, path], f"{name} TREE", "reference")]
    if tree == "small":
        floors.reverse()
    if tree != "zip":
        cat = "find \"$1\" -type f -exec cat {} + >/dev/null"
        floors.append(Command(tree, scale, "cat", shell(cat, path), cat.replace('"$1"', "TREE"), "reference"))
    floors[0].role = "floor"
    return floors


def peer_commands(tree, path):
    """(name, argv, shown, programs it needs) of what a user would run instead."""
    peers = []
    if tree in ("loose", "small"):
        peers.append(("rhash --crc32", ["rhash", "--crc32", "-r", path], "rhash --crc32 -r TREE", ["rhash"]))
    if tree == "loose":
        peers += [
            ("fdupes", ["fdupes", "-rq", path], "fdupes -rq TREE", ["fdupes"]),
            ("jdupes", ["jdupes", "-r", path], "jdupes -r TREE", ["jdupes"]),
            ("rhash, then jdupes", shell('rhash --crc32 -r "$1" && jdupes -r "$1"', path),
             "rhash --crc32 -r TREE && jdupes -r TREE", ["rhash", "jdupes"]),
        ]
    if tree == "zip":
        for name, program in (("unzip -tqq", "unzip -tqq"), ("bsdtar -xOf", "bsdtar -xOf"), ("7z t", "7z t")):
            script = per_archive(program)
            peers.append((f"{name}, per archive", shell(script, path),
                          script.replace('"$1"', "TREE") + " >/dev/null", [program.split()[0]]))
        peers.append(("Python zipfile", [sys.executable, os.path.join(BENCH, "zipfile_read.py"), path],
                      "python3 bench/zipfile_read.py TREE", []))
    return peers


def tree_commands(tree, path, scale, options, with_peers):
    """The commands of one tree, its floor first. Returns (commands, peers not installed)."""
    commands, skipped = floor_commands(tree, path, scale, options), []
    for name, argv, shown, programs in peer_commands(tree, path) if with_peers else []:
        missing = [program for program in programs if shutil.which(program) is None]
        if missing:
            skipped.append(f"{name} ({', '.join(missing)} not installed)")
            continue
        commands.append(Command(tree, scale, name, argv, shown, "peer"))
    commands.append(Command(tree, scale, "imgchk -j1", [options.imgchk, "-j1", path], "imgchk -j1 TREE",
                            "imgchk", "All"))
    commands.append(Command(tree, scale, "imgchk -j1 -m1", [options.imgchk, "-j1", "-m1", path],
                            "imgchk -j1 -m1 TREE", "imgchk", "M1"))
    commands.append(Command(tree, scale, "imgchk", [options.imgchk, path], "imgchk TREE", "imgchk", "All"))
    if options.baseline:
        commands.append(Command(tree, scale, "imgchk before threads", [options.baseline, path],
                                "BASELINE TREE", "baseline"))
    return commands, skipped


def warm_up(commands, manifests, notes):
    """Runs every command once, untimed; checks imgchk's summary line."""
    for command in commands:
        print(f"warm-up: {command.tree} x{command.scale:g}: {command.name}", file=sys.stderr, flush=True)
        _, text, error_text = run_listing(command.argv)
        if command.role != "imgchk":
            continue
        manifest = manifests[command.scale]["trees"][command.tree]
        notes.append(check_imgchk_output(command, text, error_text, manifest))


def run_rounds(commands, rounds):
    for number in range(1, rounds + 1):
        start = time.perf_counter()
        for command in commands:
            run, _ = run_once(command.argv)
            command.runs.append(run)
        print(f"round {number}/{rounds} done in {time.perf_counter() - start:.1f} s",
              file=sys.stderr, flush=True)


# ---------------------------------------------------------------- checking

SUMMARY = re.compile(r"^(-?\d+) ROMs, (-?\d+) unique, (-?\d+) duplicates, (-?\d+) unchecked"
                     r"(?:, (-?\d+) skipped)?$", re.MULTILINE)


def summary_line(images, distinct, skipped=None):
    line = f"{images} ROMs, {distinct} unique, {images - distinct} duplicates, 0 unchecked"
    return line if skipped is None else f"{line}, {skipped} skipped"


def expected_summary(mode, manifest):
    if mode == "M1":
        return summary_line(manifest["m1_images"], manifest["m1_distinct"], manifest["images"] - manifest["m1_images"])
    return summary_line(manifest["images"], manifest["distinct"])


def check_output(label, output, error_text, want, want_line=None):
    """One line for the results, and whether all was well: does imgchk's
    summary, and the listing line when one is given, say what it should?"""
    found, well = SUMMARY.search(output), False
    if not found:
        verdict = f"printed no summary line (expected \"{want}\")"
    elif found.group(0) != want:
        verdict = f"MISMATCH: printed \"{found.group(0)}\", expected \"{want}\""
    elif want_line is not None and want_line not in output.splitlines():
        verdict = f"MISMATCH: the summary matches, but no line reads `{want_line}`"
    else:
        verdict, well = "summary matches" + (f", and so does the line `{want_line}`" if want_line else ""), True
    error_lines = error_text.splitlines()
    if error_lines:
        verdict += f"; {len(error_lines)} lines on stderr, the first: `{error_lines[0]}`"
    if not well or error_lines:
        print(f"warning: imgchk {label}: {verdict}", file=sys.stderr)
    return f"{label}: {verdict}.", well and not error_lines


def check_imgchk_output(command, output, error_text, manifest):
    label = f"`{command.shown}` on the {command.tree} tree at scale {command.scale:g}"
    return check_output(label, output, error_text, expected_summary(command.mode, manifest))[0]


# ---------------------------------------------------------------- beyond the corpus

RECORD_LINE = re.compile(r"^[ D] [0-9A-F]{8} [0-9A-F]{4} +[0-9A-F]+ (.*)$", re.MULTILINE)


def target_row(target, limit, measured, met):
    return f"| {target} | {limit} | {measured} | {'yes' if met else 'NO'} |"


def crc_of_zeros(size):
    zeros, crc = memoryview(bytes(64 * MIB)), 0
    for done in range(0, size, len(zeros)):
        crc = zlib.crc32(zeros[:size - done], crc)
    return crc


def large_images(root):
    """Makes once, under root/large, a sparse file of 4 GiB + 5 bytes and a
    zip64 archive of one 5 GiB entry of zeros (deflate level 1, quick on
    zeros). Returns (title, path, listed name, size, CRC-32) of each."""
    folder = os.path.join(root, "large")
    sparse, archive = os.path.join(folder, "sparse.bin"), os.path.join(folder, "zeros.zip")
    crc_file = os.path.join(folder, "crcs.json")  # written last: the images are complete
    if not os.path.exists(crc_file):
        print("making the large images (once)", file=sys.stderr, flush=True)
        os.makedirs(folder, exist_ok=True)
        with open(sparse, "wb") as handle:
            handle.truncate(SPARSE_SIZE)
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as writer:
            with writer.open(ZIP64_ENTRY_NAME, "w", force_zip64=True) as entry:
                zeros = bytes(64 * MIB)
                for _ in range(ZIP64_ENTRY_SIZE // len(zeros)):
                    entry.write(zeros)
        with open(crc_file, "w") as handle:
            json.dump([crc_of_zeros(SPARSE_SIZE), crc_of_zeros(ZIP64_ENTRY_SIZE)], handle)
    with open(crc_file) as handle:
        sparse_crc, zip64_crc = json.load(handle)
    return [("Sparse file of 4 GiB + 5 bytes", sparse, sparse, SPARSE_SIZE, sparse_crc),
            ("Zip64 archive of one 5 GiB entry of zeros", archive, f"{archive}?{ZIP64_ENTRY_NAME}",
             ZIP64_ENTRY_SIZE, zip64_crc)]


def measure_large(options, notes):
    """imgchk once on each large image; its target rows."""
    rows = []
    for title, path, name, size, crc in large_images(options.corpus_root):
        print(f"large image: {title}", file=sys.stderr, flush=True)
        run, text, error_text = run_listing([options.imgchk, "-j1", path])
        want_line = f"  {crc:08X} 0000 {size & 0xFFFFFFFF:6X} {name}"
        note, well = check_output(f"`imgchk FILE` on the {title[0].lower()}{title[1:]}", text, error_text, summary_line(1, 1),
                                  want_line)
        notes.append(note)
        rows.append(target_row(f"{title}: peak RSS of `imgchk FILE`", f"≤ {RSS_LIMIT / MIB:.0f} MiB",
                               f"{run.max_rss / MIB:.1f} MiB in {run.wall:.1f} s" + ("" if well else ", WRONG OUTPUT"),
                               well and run.max_rss <= RSS_LIMIT))
    return rows


def record_tree(root, images):
    """Empty files with short names, RECORDS_PER_FOLDER to a folder: `images`
    of them under `all`, a few under `tiny`. Made once."""
    path = os.path.join(root, f"records-{images}")
    done = os.path.join(path, "done")
    if os.path.exists(done):
        return path
    print(f"making {images:,} empty files (once)", file=sys.stderr, flush=True)
    shutil.rmtree(path, ignore_errors=True)
    for tree, count in (("tiny", TINY_TREE_IMAGES), ("all", images)):
        for index in range(count):
            folder, name = divmod(index, RECORDS_PER_FOLDER)
            folder_path = os.path.join(path, tree, f"{folder:03d}")
            if name == 0:
                os.makedirs(folder_path)
            os.mknod(os.path.join(folder_path, f"{name:03d}"))
    open(done, "w").close()
    return path


def measure_records(options, notes):
    """What each image costs beyond its name: imgchk's peak RSS over the empty
    files less its peak over the tiny tree, per image, less the average name
    length (from the listing). Its target row."""
    images = options.records
    path = record_tree(options.corpus_root, images)
    print(f"records: imgchk over {images:,} empty files", file=sys.stderr, flush=True)
    tiny, _, _ = run_listing([options.imgchk, "-j1", "tiny"], cwd=path)
    run, text, error_text = run_listing([options.imgchk, "-j1", "all"], cwd=path)
    note, well = check_output(f"`imgchk all` over {images:,} empty files", text, error_text, summary_line(images, 1))
    notes.append(note)
    names = RECORD_LINE.findall(text)
    name_size = statistics.mean(map(len, names)) if names else math.nan
    per_image = (run.max_rss - tiny.max_rss) / images - name_size
    return [target_row(f"{images:,} empty files: bytes per image beyond its name (peak RSS less a tiny tree's, "
                       f"per image, less the average name of {name_size:.1f} bytes)", f"≤ {RECORD_LIMIT} B",
                       f"{per_image:.1f} B (peak {run.max_rss / MIB:.1f} MiB, tiny tree {tiny.max_rss / MIB:.1f} MiB, "
                       f"{run.wall:.1f} s)" + ("" if well else ", WRONG OUTPUT"),
                       well and per_image <= RECORD_LIMIT)]


# ---------------------------------------------------------------- numbers

def median_paired(command, floor, attribute):
    ratios = [getattr(run, attribute) / getattr(base, attribute)
              for run, base in zip(command.runs, floor.runs) if getattr(base, attribute) > 0]
    if not ratios:
        return math.nan, math.nan, math.nan
    return statistics.median(ratios), min(ratios), max(ratios)


def stats(command, floor, image_bytes):
    wall = statistics.median(run.wall for run in command.runs)
    ratio, low, high = median_paired(command, floor, "wall")
    return {"wall": wall, "cpu": statistics.median(run.cpu for run in command.runs),
            "rss": max(run.max_rss for run in command.runs),
            "mbps": image_bytes / 1e6 / wall if wall > 0 else math.nan,
            "ratio": ratio, "low": low, "high": high,
            "cpu_ratio": median_paired(command, floor, "cpu")[0]}


# ---------------------------------------------------------------- writing

def read_text(path):
    try:
        with open(path) as handle:
            return handle.read()
    except OSError:
        return ""


def machine_line(load_before):
    memory = re.search(r"MemTotal:\s+(\d+) kB", read_text("/proc/meminfo"))
    cpu = re.search(r"model name\s*:\s*(.+)", read_text("/proc/cpuinfo"))
    memory_text = f"{int(memory.group(1)) / MIB:.1f} GiB memory" if memory else "memory unknown"
    return (f"nproc {os.cpu_count()} ({cpu.group(1).strip() if cpu else 'unknown CPU'}), {memory_text}, "
            f"kernel {platform.system()} {platform.release()} {platform.machine()}; "
            f"load average {load_before:.2f} before the runs, {os.getloadavg()[0]:.2f} after")


def imgchk_line(path):
    described = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(path)), "describe",
                                "--always", "--dirty"], capture_output=True, text=True)
    commit = described.stdout.strip() if described.returncode == 0 else "not in a git work tree"
    return f"`{path}` (source {commit})"


def tool_versions():
    versions = []
    for package in PEER_PACKAGES:
        found = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package],
                               capture_output=True, text=True)
        if found.returncode == 0 and found.stdout:
            versions.append(f"{package} {found.stdout}")
    versions.append(f"Python {platform.python_version()}")
    return ", ".join(versions)


def corpus_line(scale, path, manifest):
    loose, zipped, small = (manifest["trees"][t] for t in ("loose", "zip", "small"))
    return (f"seed {manifest['seed']}, scale {scale:g} (`{os.path.relpath(path, REPO)}`): "
            f"loose tree {loose['images']:,} images ({loose['distinct']:,} distinct, "
            f"{loose['images'] - loose['distinct']:,} exact copies in other folders), "
            f"{loose['image_bytes'] / 1e6:.1f} MB in {loose['folders']} folders, "
            f"{loose['m1_images']:,} of them of the -m1 sizes ({loose['m1_bytes'] / 1e6:.1f} MB); "
            f"zip tree the same images in {zipped['archives']} deflate archives of "
            f"{zipped['archive_bytes'] / 1e6:.1f} MB, holding {zipped['nested_archives']} nested archives; "
            f"many-small-files tree {small['images']:,} images of 2 KiB, {small['image_bytes'] / 1e6:.1f} MB"
            + "".join(f"; {title} {tree['images']:,} of the images in {tree['archives']} archives of "
                      f"{tree['archive_bytes'] / 1e6:.1f} MB{extra}"
                      for title, tree, extra in archiver_trees(manifest)))


def archiver_trees(manifest):
    """(title, tree, what else to say) of the 7z and tar.gz trees present."""
    trees = manifest["trees"]
    found = []
    if "7z" in trees:
        found.append(("7z tree", trees["7z"], f" (LZMA2, {trees['7z']['solid_archives']} of them solid)"))
    if "targz" in trees:
        found.append(("tar.gz tree", trees["targz"], " (ustar, gzip level 6)"))
    return found


def fmt(value, digits=2):
    return "n/a" if value is None or (isinstance(value, float) and math.isnan(value)) else f"{value:.{digits}f}"


def tree_table(commands, manifest):
    """One row per command; the last column says how many times longer the
    command took than imgchk (mode All), both as paired ratios to the floor."""
    floor = commands[0]
    image_bytes = manifest["image_bytes"]
    imgchk = next(c for c in commands if c.name == "imgchk -j1")
    imgchk_ratio = stats(imgchk, floor, image_bytes)["ratio"]
    lines = ["| Command | Wall s | CPU s | Peak RSS MiB | MB/s | Paired ratio (range) | CPU ratio | Time / imgchk's |",
             "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for command in commands:
        s = stats(command, floor, image_bytes)
        lines.append(f"| {command.name} | {fmt(s['wall'], 3)} | {fmt(s['cpu'], 3)} | {s['rss'] / MIB:.1f} | "
                     f"{fmt(s['mbps'], 0)} | {fmt(s['ratio'])} ({fmt(s['low'])}–{fmt(s['high'])}) | "
                     f"{fmt(s['cpu_ratio'])} | {fmt(s['ratio'] / imgchk_ratio)} |")
    lines.append("")
    lines += [f"- {command.name}: `{command.shown}`" for command in commands]
    return lines


def target_rows(groups, scale):
    rows = ["| Target | Limit | Measured | Met |", "|---|---|---|---|"]
    for tree in TREES:
        commands = groups.get((tree, scale))
        if not commands:
            continue
        floor, title = commands[0], TREE_TITLES[tree]
        imgchk = next(c for c in commands if c.name == "imgchk -j1")
        threaded = next(c for c in commands if c.name == "imgchk")
        for label, command, base, limit in (
                (f"imgchk -j1 / {floor.name}", imgchk, floor, RATIO_TARGETS.get(tree)),
                (f"imgchk ({os.cpu_count()} workers) / imgchk -j1", threaded, imgchk, THREAD_TARGETS.get(tree))):
            ratio = stats(command, base, 0)["ratio"]
            if limit is None:
                rows.append(f"| {title}: {label}, median paired wall ratio | none, for reference | {fmt(ratio)}× | |")
                continue
            rows.append(target_row(f"{title}: {label}, median paired wall ratio", f"≤ {limit:.2f}×",
                                   f"{fmt(ratio)}×", ratio <= limit))
        for baseline in (c for c in commands if c.role == "baseline"):
            ratio = stats(imgchk, baseline, 0)["ratio"]
            rows.append(target_row(f"{title}: imgchk -j1 / the single-threaded imgchk before workers, median paired "
                                   "wall ratio", "≤ 1.05×", f"{fmt(ratio)}×", ratio <= 1.05))
        rows += [f"| {title}: imgchk / {command.name}, median paired wall ratio | none, for reference | "
                 f"{fmt(stats(imgchk, command, 0)['ratio'])}× | |" for command in commands if command.role == "reference"]
        for command in commands:
            if command.role == "imgchk":
                rss = max(run.max_rss for run in command.runs)
                limit = RSS_LIMIT if "-j1" in command.argv else RSS_LIMIT + RSS_PER_WORKER * os.cpu_count()
                rows.append(target_row(f"{title}: peak RSS of `{command.shown}`", f"≤ {limit / MIB:.0f} MiB",
                                       f"{rss / MIB:.1f} MiB", rss <= limit))
    return rows


def growth_lines(groups, manifests, scales):
    """Per tree: floor and imgchk at every scale, normalised by bytes and images."""
    lines = []
    for tree in TREES:
        rows, exponents = [], []
        by_name = {}
        for scale in scales:
            commands = groups.get((tree, scale))
            if not commands:
                continue
            manifest = manifests[scale]["trees"][tree]
            for command in commands:
                if command.role in ("peer", "baseline"):
                    continue
                s = stats(command, commands[0], manifest["image_bytes"])
                by_name.setdefault(command.name, []).append((manifest["image_bytes"], s))
                rows.append(f"| {scale:g} | {command.name} | {manifest['images']:,} | "
                            f"{manifest['image_bytes'] / 1e6:.1f} | {fmt(s['wall'], 3)} | {fmt(s['cpu'], 3)} | "
                            f"{s['rss'] / MIB:.1f} | {fmt(s['cpu'] / (manifest['image_bytes'] / 1e9))} | "
                            f"{fmt(s['cpu'] / manifest['images'] * 1e6, 1)} | {fmt(s['ratio'])} |")
        if not rows:
            continue
        for name, points in by_name.items():
            if len(points) < 2 or points[0][0] == points[-1][0]:
                continue
            (bytes_low, low), (bytes_high, high) = points[0], points[-1]
            span = math.log(bytes_high / bytes_low)
            exponents.append(f"{name}: CPU {fmt(math.log(high['cpu'] / low['cpu']) / span)}, "
                             f"wall {fmt(math.log(high['wall'] / low['wall']) / span)}, "
                             f"RSS {fmt(math.log(high['rss'] / low['rss']) / span)}")
        lines += [f"### {TREE_TITLES[tree]}", "",
                  "| Scale | Command | Images | Image MB | Wall s | CPU s | Peak RSS MiB | CPU s per GB | "
                  "CPU µs per image | Paired ratio |",
                  "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|", *rows, ""]
        if exponents:
            lines += ["Growth exponents from the smallest to the largest scale (log of the time or RSS "
                      "ratio over log of the image-bytes ratio; 1.00 is linear): " + "; ".join(exponents) + ".", ""]
    return lines


def write_results(path, options, groups, manifests, corpora, notes, extra_rows, skipped, load_before, started):
    lines = ["# imgchk benchmark results", "",
             f"Written by `bench/run.py` (`make bench`) on {started:%Y-%m-%d %H:%M} UTC. "
             f"After one untimed warm-up run of every command (so the page cache is warm), "
             f"{options.rounds} rounds ran, each running every command once in the order of the tables, "
             "so a command and its floor always ran close together.", "",
             f"- Machine: {machine_line(load_before)}.",
             f"- imgchk: {imgchk_line(options.imgchk)}.",
             *[f"- Corpus: {corpus_line(scale, corpora[scale], manifests[scale])}." for scale in sorted(corpora)],
             f"- Tools: {tool_versions()}.",
             "- Columns: wall and CPU seconds (user + system, of the command and every process it waited for) "
             "are medians over the rounds; peak RSS is the highest over the rounds, of the largest single "
             "process, as GNU time reports it; MB/s is the tree's image bytes (10^6) over the median wall time; the paired ratio is a "
             "run's wall time over its floor's wall time in the same round, median and range over the rounds; "
             "the CPU ratio is the same for CPU seconds.",
             "- The peers do not descend into nested archives (they test or extract the nested archive as one "
             "member); zip_floor, Python zipfile and imgchk do.",
             ""]
    if skipped:
        lines += [f"- Not run: {'; '.join(skipped)}.", ""]
    lines += ["## Targets", "", *target_rows(groups, options.scale), *extra_rows, ""]
    for tree in TREES:
        commands = groups.get((tree, options.scale))
        if commands:
            manifest = manifests[options.scale]["trees"][tree]
            lines += [f"## {TREE_TITLES[tree]}: {manifest['images']:,} images, "
                      f"{manifest['image_bytes'] / 1e6:.1f} MB", "", *tree_table(commands, manifest), ""]
    if options.growth:
        lines += ["## Growth", "",
                  "The floors and imgchk at every scale, in the same rounds as the tables above. The corpus "
                  "grows its image count and its image bytes in the same proportion, so one exponent serves both: "
                  "time that grows as n log n in the count would show as an exponent a little above 1 "
                  "(about 1.1 from a quarter to twice the scale).", "",
                  *growth_lines(groups, manifests, sorted(corpora))]
    lines += ["## imgchk's output", "",
              "Checked once per command in the warm-up against the corpus manifest, and once on each "
              "large image and on the empty files against what they hold.", "",
              *[f"- {note}" for note in notes], ""]
    with open(path, "w") as handle:
        handle.write("\n".join(lines))


# ---------------------------------------------------------------- setup

def make_corpus(root, seed, scale):
    path = os.path.join(root, f"corpus-seed{seed}-scale{scale:g}")
    subprocess.run([sys.executable, os.path.join(BENCH, "make_corpus.py"), "--seed", str(seed),
                    "--scale", str(scale), "--out", path], check=True)
    with open(os.path.join(path, "manifest.json")) as handle:
        return path, json.load(handle)


def parse_options():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--imgchk", default=os.path.join(REPO, "build", "imgchk"), help="the imgchk to measure")
    parser.add_argument("--baseline", help="an earlier imgchk (no -j option) that imgchk -j1 must keep up with")
    parser.add_argument("--zip-floor", default=os.path.join(REPO, "build", "bench", "zip_floor"))
    parser.add_argument("--read-floor", default=os.path.join(REPO, "build", "bench", "read_floor"))
    parser.add_argument("--dat-load", default=os.path.join(REPO, "build", "bench", "dat_load"))
    parser.add_argument("--scale", type=float, default=1.0, help="corpus scale of the main tables")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--trees", default=",".join(TREES), help=f"comma-separated subset of {','.join(TREES)}")
    parser.add_argument("--growth", action="store_true", help="also run the floors and imgchk at --growth-scales")
    parser.add_argument("--growth-scales", default="0.25,1,2")
    parser.add_argument("--records", type=int, nargs="?", const=1_000_000, default=0, metavar="IMAGES",
                        help="also measure the memory per image over this many empty files (1,000,000 if no count)")
    parser.add_argument("--corpus-root", default=os.path.join(BENCH, "out"))
    parser.add_argument("--output", default=os.path.join(BENCH, "RESULTS.md"))
    options = parser.parse_args()
    options.trees = [tree for tree in options.trees.split(",") if tree]
    if options.rounds < 1 or options.records < 0 or any(tree not in TREES for tree in options.trees):
        parser.error(f"--rounds and --records must be positive and --trees a subset of {','.join(TREES)}")
    for program in (options.imgchk, options.zip_floor, options.read_floor, options.dat_load):
        if not os.access(program, os.X_OK):
            parser.error(f"{program} is not an executable; build it first (cmake --build build)")
    if not os.access(GNU_TIME, os.X_OK):
        parser.error(f"{GNU_TIME} is missing; install GNU time (tools/install-deps.sh bench)")
    options.imgchk = os.path.abspath(options.imgchk)
    options.zip_floor = os.path.abspath(options.zip_floor)
    options.read_floor = os.path.abspath(options.read_floor)
    options.dat_load = os.path.abspath(options.dat_load)
    return options


def main():
    options = parse_options()
    started = datetime.datetime.now(datetime.timezone.utc)
    scales = [options.scale]
    if options.growth:
        scales += [float(s) for s in options.growth_scales.split(",") if float(s) != options.scale]
    corpora, manifests = {}, {}
    for scale in scales:
        corpora[scale], manifests[scale] = make_corpus(options.corpus_root, options.seed, scale)

    groups, skipped = {}, []
    for scale in sorted(scales):
        for tree in options.trees:
            path = os.path.join(corpora[scale], tree)
            groups[(tree, scale)], missing = tree_commands(tree, path, scale, options,
                                                           with_peers=scale == options.scale)
            skipped += [m for m in missing if m not in skipped]
    commands = [command for group in groups.values() for command in group]

    load_before = os.getloadavg()[0]
    notes = []
    try:
        warm_up(commands, manifests, notes)
        run_rounds(commands, options.rounds)
        extra_rows = measure_large(options, notes) + (measure_records(options, notes) if options.records else [])
        import dat_bench  # it imports this file for its helpers
        extra_rows += dat_bench.measure_dat_load(options, notes)
        extra_rows += dat_bench.measure_audit(options, corpora[options.scale], notes)
    except CommandFailed as failure:
        sys.exit(f"run.py: a command failed, no results written: {failure}")
    write_results(options.output, options, groups, manifests, corpora, notes, extra_rows, skipped, load_before,
                  started)
    print(f"run.py: wrote {options.output}", file=sys.stderr)


if __name__ == "__main__":
    main()
