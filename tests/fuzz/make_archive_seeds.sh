#!/bin/sh
# Writes the archive walker fuzz target's seeds in the formats read through
# libarchive, with the tools that write them: 7z (solid, PPMd, BCJ, an
# empty one), tar in its dialects and compressions, gzip, each holding
# small images and a nested zip or 7z. Usage: make_archive_seeds.sh
# DIRECTORY (the committed seeds are in tests/fuzz/corpus-walker; the RAR
# seeds come from make_walker_corpus).
set -eu
out=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p in/sub
i=0
while [ $i -lt 200 ]; do echo "line $i of a small image" >> in/a.bin; i=$((i + 1)); done
head -c 2048 in/a.bin > in/sub/2k.bin
printf 'z' > in/z.bin
7zz a -bso0 -bsp0 -tzip inner.zip in/z.bin in/sub/2k.bin
7zz a -bso0 -bsp0 -m0=LZMA2 -ms=on small.7z in/z.bin
gzip -c in/a.bin > in/a.bin.gz
cp inner.zip small.7z in/
7zz a -bso0 -bsp0 -m0=LZMA2 -ms=on "$out/seed-solid.7z" in
7zz a -bso0 -bsp0 -m0=PPMd -ms=off "$out/seed-ppmd.7z" in/a.bin in/z.bin
7zz a -bso0 -bsp0 -mf=BCJ -m0=LZMA "$out/seed-bcj.7z" in/a.bin inner.zip
7zz a -bso0 -bsp0 "$out/seed-empty.7z" -x'!*' in
bsdtar --format pax -cf "$out/seed-pax.tar" in
tar --format=gnu -czf "$out/seed-gnu.tar.gz" in
tar -cjf "$out/seed-nested.tar.bz2" in/small.7z in/inner.zip
tar -cJf "$out/seed-nested.tar.xz" in/a.bin.gz in/z.bin
tar --zstd -cf "$out/seed-small.tar.zst" in/z.bin in/sub
gzip -9 -c in/a.bin > "$out/seed-image.gz"
