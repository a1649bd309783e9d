#!/usr/bin/env python3
"""Writes the benchmark corpus: a loose tree of ROM-like images, the same
images packed in zip archives (a few nested), in 7z archives (LZMA2, every
other one solid) and in .tar.gz archives, and a tree of many small images.

The corpus depends only on --seed and --scale. A finished corpus carries a
stamp file; running again with the same seed and scale does nothing. Besides
the trees it writes manifest.json (counts and bytes per tree, for the runner)
and images.tsv (every image's display name, size, CRC-32 and content id).

At scale 1: about 3,000 images of about 400 MB in the loose tree, 300
archives in the zip tree, 100 in each of the 7z and tar.gz trees (a third
of the images), and 100,000 images of 2 KiB in the small tree. The 7z
archives are written by 7zz (Debian package 7zip).
"""

import argparse
import io
import json
import os
import random
import shutil
import subprocess
import sys
import tarfile
import gzip
import zipfile
import zlib

GENERATOR_VERSION = 3
KIB = 1024
MIB = 1024 * KIB

# Image classes at scale 1: (name, count of distinct images, size picker).
SMALL_ROM_SIZES = [(2 * KIB, 10), (4 * KIB, 12), (8 * KIB, 14), (12 * KIB, 6),
                   (14 * KIB, 3), (16 * KIB, 14), (32 * KIB, 12), (64 * KIB, 8)]
MEDIUM_ROM_SIZES = [(256 * KIB, 4), (384 * KIB, 1), (512 * KIB, 4), (768 * KIB, 1), (1 * MIB, 3)]
LARGE_ROM_SIZES = [(4 * MIB, 3), (6 * MIB, 1), (8 * MIB, 3), (12 * MIB, 1), (16 * MIB, 2)]
DISTINCT_SMALL = 2410
DISTINCT_MEDIUM = 270
DISTINCT_LARGE = 18
DUPLICATE_SHARE = 0.10       # of each class, copied into another folder
ODD_SIZE_SHARE = 0.25        # images with a header or a trimmed size
ARCHIVES = 300
OTHER_ARCHIVES = 100          # in each of the 7z and tar.gz trees, a third of the images
NESTED_EVERY = 25            # archive k with k % 25 == 12 holds a nested archive
DOUBLE_NESTED_EVERY = 75     # ... and with k % 75 == 12, a nested one inside that
SMALL_TREE_IMAGES = 100_000
SMALL_TREE_SIZE = 2 * KIB
SMALL_TREE_PER_FOLDER = 1000

# The -m1 mode admits only these sizes; the manifest counts them separately.
M1_SIZES = (12 * KIB, 14 * KIB, 16 * KIB)

SYSTEMS = [("atari2600", ".a26"), ("nes", ".nes"), ("snes", ".sfc"), ("genesis", ".md"),
           ("gameboy", ".gb"), ("pcengine", ".pce"), ("mastersystem", ".sms"),
           ("arcade", ".bin"), ("msx", ".rom"), ("homebrew", ".bin")]
SETS_PER_SYSTEM = 6
ZIP_DATE = (2001, 1, 1, 0, 0, 0)


def scaled(count, scale):
    return max(1, round(count * scale))


def pick_size(rng, table, low, high):
    """A common ROM size from the table, or now and then an odd one in range."""
    if rng.random() < ODD_SIZE_SHARE:
        return rng.randrange(low, high + 1, 16)
    sizes, weights = zip(*table)
    size = rng.choices(sizes, weights)[0]
    # Some dumps carry a 512-byte header in front of the ROM.
    if rng.random() < 0.1 and size + 512 <= high:
        size += 512
    return size


def compressible_bytes(rng, size):
    """Code- and tile-like content: short random tiles repeated in random
    order, then 0xFF padding as in a partly filled ROM. The number of tiles
    sets how well it deflates: about 2.5 times for a large image."""
    tile_count = max(16, min(1024, size // 32))
    tiles = [rng.randbytes(rng.randint(8, 64)) for _ in range(tile_count)]
    body_size = int(size * rng.uniform(0.6, 0.97))
    body = b"".join(rng.choices(tiles, k=body_size // 20 + 1))[:body_size]
    return body + b"\xff" * (size - len(body))


def image_bytes(rng, size):
    if rng.random() < 0.5:
        return compressible_bytes(rng, size)
    return rng.randbytes(size)


def plan_loose_tree(rng, scale):
    """Returns the images as dicts: path (relative), size, content id, source
    (the content id's first path, for copies); originals first."""
    classes = [(DISTINCT_SMALL, SMALL_ROM_SIZES, 2 * KIB, 64 * KIB),
               (DISTINCT_MEDIUM, MEDIUM_ROM_SIZES, 256 * KIB, 1 * MIB),
               (DISTINCT_LARGE, LARGE_ROM_SIZES, 4 * MIB, 16 * MIB)]
    images = []
    copies = []
    for count, table, low, high in classes:
        first = len(images)
        for _ in range(scaled(count, scale)):
            index = len(images)
            system, extension = rng.choice(SYSTEMS)
            folder = f"{system}/set{rng.randrange(SETS_PER_SYSTEM) + 1:02d}"
            if rng.random() < 0.3:
                folder += f"/disk{rng.randrange(3) + 1}"
            images.append({"path": f"{folder}/{system}_{index:05d}{extension}",
                           "size": pick_size(rng, table, low, high), "content": index})
        originals = images[first:]
        duplicate_count = round(len(originals) * DUPLICATE_SHARE)
        copies.extend(rng.sample(originals, duplicate_count))
    folders = sorted({os.path.dirname(image["path"]) for image in images})
    duplicates = []
    for original in copies:
        home = os.path.dirname(original["path"])
        folder = rng.choice([f for f in folders if f != home])
        duplicates.append({"path": f"{folder}/{os.path.basename(original['path'])}",
                           "size": original["size"], "content": original["content"],
                           "source": original["path"]})
    return images + duplicates


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def write_loose_tree(rng, root, images):
    """Writes every image; a copy is read back from its original."""
    for image in images:
        target = os.path.join(root, image["path"])
        if "source" in image:
            with open(os.path.join(root, image["source"]), "rb") as source:
                data = source.read()
        else:
            data = image_bytes(rng, image["size"])
        write_file(target, data)
        image["crc"] = zlib.crc32(data)


def zip_entry(name):
    info = zipfile.ZipInfo(name, date_time=ZIP_DATE)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3
    info.external_attr = 0o644 << 16
    return info


def zip_bytes(entries):
    """entries: (name, bytes) pairs; returns a whole deflate archive."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compresslevel=6) as archive:
        for name, data in entries:
            archive.writestr(zip_entry(name), data)
    return buffer.getvalue()


def nesting_levels(k, count):
    """How deep each of archive k's count images sits: 0 in the archive itself,
    1 in a nested archive, 2 in an archive inside that. Only a few archives
    nest: the later half of their images, and the last quarter deeper still."""
    levels = [0] * count
    if k % NESTED_EVERY != NESTED_EVERY // 2 or count < 2:
        return levels
    half = count // 2
    levels[half:] = [1] * (count - half)
    if k % DOUBLE_NESTED_EVERY == NESTED_EVERY // 2 and count - half >= 2:
        deeper = half + (count - half) // 2
        levels[deeper:] = [2] * (count - deeper)
    return levels


def nested_archive_names(k):
    return [f"nested/pack{k:03d}-inner.zip", f"deeper/pack{k:03d}-deep.zip"]


def pack_archive(k, entries, levels):
    """entries: (name, bytes) pairs. Returns the archive's bytes, and the
    number of nested archives in it."""
    depth = max(levels)
    names = nested_archive_names(k)
    inner = []
    for level in range(depth, -1, -1):
        inner = [e for e, l in zip(entries, levels) if l == level] + inner
        if level > 0:
            inner = [(names[level - 1], zip_bytes(inner))]
    return zip_bytes(inner), depth


def display_prefix(k, level):
    """What the walker puts between the archive's name and an image's name."""
    return "".join(name + "?" for name in nested_archive_names(k)[:level])


def write_zip_tree(loose_root, zip_root, images, archive_count):
    """Packs the loose images, in path order, into archive_count archives.
    Returns (archive records, nested archive count, image rows)."""
    ordered = sorted(images, key=lambda image: image["path"])
    archive_count = min(archive_count, len(ordered))
    archives, rows, nested_total = [], [], 0

    def read_member(member):
        with open(os.path.join(loose_root, member["path"]), "rb") as source:
            return source.read()

    for k in range(archive_count):
        members = ordered[k * len(ordered) // archive_count:(k + 1) * len(ordered) // archive_count]
        system = members[0]["path"].split("/")[0]
        relative = f"{system}/pack{k:03d}.zip"
        levels = nesting_levels(k, len(members))
        data, nested = pack_archive(k, [(m["path"], read_member(m)) for m in members], levels)
        nested_total += nested
        write_file(os.path.join(zip_root, relative), data)
        archives.append({"path": relative, "bytes": len(data)})
        for member, level in zip(members, levels):
            rows.append({**member, "path": f"{relative}?{display_prefix(k, level)}{member['path']}"})
    return archives, nested_total, rows


def archive_groups(images, archive_count):
    """The images in path order, cut into archive_count runs, with the
    system each run's archive is filed under."""
    ordered = sorted(images, key=lambda image: image["path"])
    archive_count = min(archive_count, len(ordered))
    for k in range(archive_count):
        members = ordered[k * len(ordered) // archive_count:(k + 1) * len(ordered) // archive_count]
        yield k, members[0]["path"].split("/")[0], members


def write_7z_tree(loose_root, root, images, archive_count):
    """The first archive_count zip tree's runs of images as 7z archives, LZMA2
    at level 5, solid when k is even. Returns (archive records, image rows)."""
    archives, rows = [], []
    for k, system, members in archive_groups(images, archive_count * 3):
        if k >= archive_count:
            break
        relative = f"{system}/pack{k:03d}.7z"
        target = os.path.abspath(os.path.join(root, relative))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        solid = "on" if k % 2 == 0 else "off"
        subprocess.run(["7zz", "a", "-bd", "-bso0", "-bsp0", "-m0=LZMA2", "-mx=5", f"-ms={solid}", "-mtm=off",
                        "-mtc=off", "-mta=off", target, *[m["path"] for m in members]],
                       cwd=loose_root, check=True)
        archives.append({"path": relative, "bytes": os.path.getsize(target), "solid": solid == "on"})
        rows.extend({**m, "path": f"{relative}?{m['path']}"} for m in members)
    return archives, rows


def write_tar_gz_tree(loose_root, root, images, archive_count):
    """The same runs as .tar.gz archives (ustar, gzip level 6, no dates)."""
    archives, rows = [], []
    for k, system, members in archive_groups(images, archive_count * 3):
        if k >= archive_count:
            break
        relative = f"{system}/pack{k:03d}.tar.gz"
        tar_bytes = io.BytesIO()
        with tarfile.open(fileobj=tar_bytes, mode="w", format=tarfile.USTAR_FORMAT) as archive:
            for member in members:
                with open(os.path.join(loose_root, member["path"]), "rb") as source:
                    data = source.read()
                info = tarfile.TarInfo(member["path"])
                info.size, info.mode, info.mtime = len(data), 0o644, 0
                archive.addfile(info, io.BytesIO(data))
        data = gzip.compress(tar_bytes.getvalue(), compresslevel=6, mtime=0)
        write_file(os.path.join(root, relative), data)
        archives.append({"path": relative, "bytes": len(data)})
        rows.extend({**m, "path": f"{relative}?{m['path']}"} for m in members)
    return archives, rows


def write_small_tree(rng, root, count):
    images = []
    for index in range(count):
        path = f"d{index // SMALL_TREE_PER_FOLDER:03d}/s{index:06d}.bin"
        data = image_bytes(rng, SMALL_TREE_SIZE)
        write_file(os.path.join(root, path), data)
        images.append({"path": path, "size": SMALL_TREE_SIZE, "content": index,
                       "crc": zlib.crc32(data)})
    return images


def summarise(images):
    """Image count, bytes and distinct contents, in all and under -m1."""
    m1 = [image for image in images if image["size"] in M1_SIZES]
    return {"images": len(images), "image_bytes": sum(image["size"] for image in images),
            "distinct": len({image["content"] for image in images}),
            "m1_images": len(m1), "m1_bytes": sum(image["size"] for image in m1),
            "m1_distinct": len({image["content"] for image in m1})}


def write_manifest(out, seed, scale, trees):
    manifest = {"generator_version": GENERATOR_VERSION, "seed": seed, "scale": scale,
                "trees": {name: tree["summary"] for name, tree in trees.items()}}
    with open(os.path.join(out, "manifest.json"), "w") as handle:
        json.dump(manifest, handle, indent=1, sort_keys=True)
        handle.write("\n")
    with open(os.path.join(out, "images.tsv"), "w") as handle:
        handle.write("tree\tpath\tsize\tcrc32\tcontent\n")
        for name, tree in trees.items():
            for image in tree["images"]:
                handle.write(f"{name}\t{name}/{image['path']}\t{image['size']}\t"
                             f"{image['crc']:08X}\t{image['content']}\n")
    return manifest


def generate(out, seed, scale):
    rng = random.Random(seed)
    loose_root = os.path.join(out, "loose")
    loose = plan_loose_tree(rng, scale)
    write_loose_tree(rng, loose_root, loose)
    archives, nested, zip_rows = write_zip_tree(loose_root, os.path.join(out, "zip"), loose,
                                                scaled(ARCHIVES, scale))
    other_count = scaled(OTHER_ARCHIVES, scale)
    sevenzip, sevenzip_rows = write_7z_tree(loose_root, os.path.join(out, "7z"), loose, other_count)
    targz, targz_rows = write_tar_gz_tree(loose_root, os.path.join(out, "targz"), loose, other_count)
    small = write_small_tree(rng, os.path.join(out, "small"), scaled(SMALL_TREE_IMAGES, scale))
    trees = {"loose": {"images": loose, "summary": summarise(loose)},
             "zip": {"images": zip_rows, "summary": summarise(zip_rows)},
             "7z": {"images": sevenzip_rows, "summary": summarise(sevenzip_rows)},
             "targz": {"images": targz_rows, "summary": summarise(targz_rows)},
             "small": {"images": small, "summary": summarise(small)}}
    trees["7z"]["summary"].update(archives=len(sevenzip), solid_archives=sum(a["solid"] for a in sevenzip),
                                  archive_bytes=sum(a["bytes"] for a in sevenzip))
    trees["targz"]["summary"].update(archives=len(targz), archive_bytes=sum(a["bytes"] for a in targz))
    trees["loose"]["summary"]["folders"] = len({os.path.dirname(i["path"]) for i in loose})
    trees["zip"]["summary"].update(archives=len(archives), nested_archives=nested,
                                   archive_bytes=sum(a["bytes"] for a in archives))
    return write_manifest(out, seed, scale, trees)


def read_stamp(out):
    try:
        with open(os.path.join(out, "stamp.json")) as handle:
            return json.load(handle)
    except (OSError, ValueError):
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "out", "corpus"))
    args = parser.parse_args()
    if args.scale <= 0:
        parser.error("--scale must be positive")

    wanted = {"generator_version": GENERATOR_VERSION, "seed": args.seed, "scale": args.scale}
    if read_stamp(args.out) == wanted:
        print(f"make_corpus: {args.out} is up to date (seed {args.seed}, scale {args.scale})")
        return 0
    if os.path.exists(args.out) and os.listdir(args.out) and read_stamp(args.out) is None:
        sys.exit(f"make_corpus: {args.out} exists and is not a corpus; remove it first")

    # Build beside the target and swap it in whole, so a stopped run never
    # leaves a half-written corpus behind a valid stamp.
    partial = args.out.rstrip("/") + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    manifest = generate(partial, args.seed, args.scale)
    with open(os.path.join(partial, "stamp.json"), "w") as handle:
        json.dump(wanted, handle)
    shutil.rmtree(args.out, ignore_errors=True)
    os.rename(partial, args.out)

    trees = manifest["trees"]
    print(f"make_corpus: wrote {args.out} (seed {args.seed}, scale {args.scale}): "
          f"loose {trees['loose']['images']} images, {trees['loose']['image_bytes'] / 1e6:.1f} MB; "
          f"zip {trees['zip']['archives']} archives, {trees['zip']['archive_bytes'] / 1e6:.1f} MB; "
          f"7z {trees['7z']['archives']} archives, {trees['7z']['archive_bytes'] / 1e6:.1f} MB; "
          f"tar.gz {trees['targz']['archives']} archives, {trees['targz']['archive_bytes'] / 1e6:.1f} MB; "
          f"small {trees['small']['images']} images")
    return 0


if __name__ == "__main__":
    sys.exit(main())
