#!/usr/bin/env python3
"""Archives written by the tools users meet, listed by imgchk.

Every entry's CRC, byte sum and size in imgchk's listing must match what
Python's zipfile or tarfile reads from the same archive (or, for formats
they cannot read, the files the tool was given); entries imgchk cannot
unpack (encryption) must end in the uncompress message.

Usage: real_archives_test.py path/to/imgchk
"""
import io
import os
import random
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
import zlib

IMGCHK = None
LINE = re.compile(rb"^([ D]) ([0-9A-F]{8}) ([0-9A-F]{4}) +([0-9A-F]+) (.*)$")


def sample_files():
    """Names and contents: text-like, random, empty, and one large image."""
    rng = random.Random(20261207)
    text = b"".join(b"LDA #$%02X\nSTA $%04X\n" % (i & 0xFF, i) for i in range(3000))
    return {
        "code.asm": text,
        "noise.bin": bytes(rng.randrange(256) for _ in range(70000)),
        "empty.rom": b"",
        "sub/dir/tile.chr": bytes(i % 7 for i in range(8192)),
        "big.rom": bytes(rng.randrange(4) for _ in range(1 << 20)),
    }


def escape_name(name):
    return b"".join(b"%%%02X" % byte if byte >= 0x80 or byte < 0x20 or byte == 0x7F else bytes([byte])
                    for byte in name)


def listing_of(output):
    """(name bytes, crc, sum, size) of every record line."""
    records = []
    for line in output.split(b"\n"):
        match = LINE.match(line)
        if match:
            records.append((match.group(5), int(match.group(2), 16), int(match.group(3), 16),
                            int(match.group(4), 16)))
    return sorted(records)


def expected_from_zipfile(archive_path, display_name, unreadable=()):
    """What imgchk should list, taken from Python's own reading of the archive."""
    records, failures = [], []
    with zipfile.ZipFile(archive_path) as archive:
        for info in archive.infolist():
            if info.is_dir():
                continue
            if info.filename in unreadable:
                failures.append(b"imgchk: uncompress of %s?%s failed\n"
                                % (display_name.encode(), info.filename.encode()))
                continue
            data = archive.read(info)
            name = (display_name + "?" + info.filename).encode()
            records.append((escape_name(name), info.CRC, sum(data) & 0xFFFF, len(data) & 0xFFFFFFFF))
    return sorted(records), failures


def expected_from_files(display_name, files):
    """What imgchk should list for an archive holding `files` under their names."""
    return sorted((escape_name(("%s?%s" % (display_name, path)).encode()), zlib.crc32(data), sum(data) & 0xFFFF,
                   len(data) & 0xFFFFFFFF) for path, data in files.items())


def expected_from_tarfile(archive_path, display_name):
    """Regular files only, as Python's tarfile reads them: links, folders and
    devices are not images."""
    records = []
    with tarfile.open(archive_path) as archive:
        for member in archive.getmembers():
            if not member.isreg():
                continue
            data = archive.extractfile(member).read()
            records.append((escape_name(("%s?%s" % (display_name, member.name)).encode()), zlib.crc32(data),
                            sum(data) & 0xFFFF, len(data) & 0xFFFFFFFF))
    return sorted(records)


class Fixture:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="imgchk-real-")
        self.files = sample_files()
        for name, data in self.files.items():
            path = os.path.join(self.dir, "in", name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(data)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run(self, command, stdin=None):
        subprocess.run(command, cwd=os.path.join(self.dir, "in"), check=True, input=stdin,
                       stdout=subprocess.PIPE if stdin is not None else subprocess.DEVNULL)


class RealArchives(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fixture = Fixture()

    @classmethod
    def tearDownClass(cls):
        cls.fixture.close()

    def archive(self, name):
        return os.path.join(self.fixture.dir, name)

    def check(self, name, unreadable=(), options=()):
        result = subprocess.run([IMGCHK, *options, name], cwd=self.fixture.dir, capture_output=True)
        self.assertEqual(result.returncode, 0)
        want, failures = expected_from_zipfile(self.archive(name), name, unreadable)
        self.assertGreater(len(want), 0)
        self.assertEqual(listing_of(result.stdout), want)
        self.assertEqual(sorted(result.stderr.splitlines(keepends=True)), sorted(failures))

    # Info-ZIP zip
    def test_infozip_writes(self):
        cases = {
            "iz-stored.zip": ["-0"],
            "iz-deflate.zip": [],
            "iz-best.zip": ["-9"],
            "iz-zip64.zip": ["-fz"],
        }
        for name, flags in cases.items():
            with self.subTest(name):
                self.fixture.run(["zip", "-q", "-r", *flags, self.archive(name), "."])
                self.check(name)

    def test_infozip_streamed_input_and_output(self):
        # A pipe on both sides: zip cannot seek back, so it writes data descriptors.
        data = self.fixture.files["noise.bin"] + self.fixture.files["code.asm"]
        piped = subprocess.run(["sh", "-c", "zip -q - - | cat"], input=data, capture_output=True,
                               check=True).stdout
        with open(self.archive("iz-streamed.zip"), "wb") as out:
            out.write(piped)
        with zipfile.ZipFile(self.archive("iz-streamed.zip")) as archive:
            self.assertTrue(archive.infolist()[0].flag_bits & 0x08)
        self.check("iz-streamed.zip")

    def test_infozip_encryption_fails_only_the_encrypted_entries(self):
        self.fixture.run(["zip", "-q", "-P", "secret", self.archive("iz-secret.zip"), "code.asm"])
        self.fixture.run(["zip", "-q", self.archive("iz-secret.zip"), "noise.bin"])
        result = subprocess.run([IMGCHK, "iz-secret.zip"], cwd=self.fixture.dir, capture_output=True)
        self.assertEqual(result.stderr, b"imgchk: uncompress of iz-secret.zip?code.asm failed\n")
        self.assertEqual([record[0] for record in listing_of(result.stdout)], [b"iz-secret.zip?noise.bin"])

    def test_infozip_comment_in_pzc_mode(self):
        self.fixture.run(["zip", "-q", "-z", self.archive("iz-comment.zip"), "code.asm"],
                         stdin=b"Collection of 2026\n")
        result = subprocess.run([IMGCHK, "-pzc", "iz-comment.zip"], cwd=self.fixture.dir, capture_output=True)
        self.assertEqual(result.stdout, b"iz-comment.zip: Collection of 2026\n")
        self.assertEqual(result.stderr, b"")
        self.check("iz-comment.zip")

    # Python's zipfile
    def write_with_zipfile(self, target, compression, force_zip64=False):
        with zipfile.ZipFile(target, "w", compression=compression) as archive:
            archive.writestr(zipfile.ZipInfo("sub/"), b"")
            for name, data in self.fixture.files.items():
                info = zipfile.ZipInfo(name)
                info.compress_type = compression  # a ZipInfo alone would be stored
                with archive.open(info, "w", force_zip64=force_zip64) as entry:
                    entry.write(data)

    def test_zipfile_writes(self):
        for name, compression, zip64 in [("py-stored.zip", zipfile.ZIP_STORED, False),
                                         ("py-deflate.zip", zipfile.ZIP_DEFLATED, False),
                                         ("py-zip64.zip", zipfile.ZIP_DEFLATED, True)]:
            with self.subTest(name):
                self.write_with_zipfile(self.archive(name), compression, zip64)
                self.check(name)

    def test_zipfile_writes_70000_entries(self):
        # Past 65,535 entries zipfile keeps the counts in the zip64 end record.
        with zipfile.ZipFile(self.archive("py-many.zip"), "w") as archive:
            for i in range(70000):
                archive.writestr("e/%05d.bin" % i, b"%d" % (i * 7))
        self.check("py-many.zip")

    def test_zipfile_to_an_unseekable_stream(self):
        class Unseekable(io.RawIOBase):
            def __init__(self, sink):
                self.sink = sink

            def writable(self):
                return True

            def write(self, data):
                return self.sink.write(data)

        with open(self.archive("py-stream.zip"), "wb") as sink:
            self.write_with_zipfile(Unseekable(sink), zipfile.ZIP_DEFLATED)
        self.check("py-stream.zip")

    def test_zipfile_other_methods(self):
        for name, compression in [("py-bzip2.zip", zipfile.ZIP_BZIP2), ("py-lzma.zip", zipfile.ZIP_LZMA)]:
            with self.subTest(name):
                self.write_with_zipfile(self.archive(name), compression)
                self.check(name)

    # 7-Zip, with every method it writes into zip archives; Python cannot
    # read Deflate64, so the files it was given are the reference.
    def test_7zip_methods(self):
        for method in ["Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "XZ"]:
            name = "7z-%s.zip" % method.lower()
            with self.subTest(name):
                self.fixture.run(["7zz", "a", "-bso0", "-bsp0", "-tzip", "-mm=" + method, "-mx=9",
                                  self.archive(name), "."])
                result = subprocess.run([IMGCHK, name], cwd=self.fixture.dir, capture_output=True)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                want = sorted((escape_name(("%s?%s" % (name, path)).encode()), zlib.crc32(data),
                               sum(data) & 0xFFFF, len(data)) for path, data in self.fixture.files.items())
                self.assertEqual(listing_of(result.stdout), want)
                # A wrong CRC and a damaged stream fail only their own entries.
                damaged = "bad-" + name
                with open(self.archive(name), "rb") as source:
                    data = bytearray(source.read())
                with zipfile.ZipFile(self.archive(name)) as archive:
                    damaged_entry = archive.getinfo("big.rom")
                # The central directory follows every local header.
                central = data.rfind(b"code.asm", 0, data.rfind(b"PK\x05\x06")) - 46
                data[central + 16] ^= 0xFF
                offset = damaged_entry.header_offset
                local_name_size = int.from_bytes(data[offset + 26:offset + 28], "little")
                local_extra_size = int.from_bytes(data[offset + 28:offset + 30], "little")
                middle = offset + 30 + local_name_size + local_extra_size + damaged_entry.compress_size // 2
                for at in range(middle, middle + 8):
                    data[at] ^= 0x55
                with open(self.archive(damaged), "wb") as out:
                    out.write(data)
                result = subprocess.run([IMGCHK, damaged], cwd=self.fixture.dir, capture_output=True)
                self.assertEqual(sorted(result.stderr.splitlines()),
                                 [b"imgchk: uncompress of %s?%s failed" % (damaged.encode(), entry)
                                  for entry in (b"big.rom", b"code.asm")])
                self.assertEqual(len(listing_of(result.stdout)), len(want) - 2)

    # libarchive's bsdtar
    def test_bsdtar_writes(self):
        for name, options in [("bsd-deflate.zip", []), ("bsd-stored.zip", ["--options", "zip:compression=store"])]:
            with self.subTest(name):
                self.fixture.run(["bsdtar", "-a", "-cf", self.archive(name), *options, "."])
                self.check(name)


    def listed(self, *args):
        result = subprocess.run([IMGCHK, *args], cwd=self.fixture.dir, capture_output=True)
        self.assertEqual(result.returncode, 0)
        return result

    # 7-Zip's own format: every method, solid and not, the BCJ filter.
    def test_7z_archives(self):
        cases = {
            "copy.7z": ["-m0=Copy"],
            "lzma.7z": ["-m0=LZMA", "-ms=off"],
            "lzma2-solid.7z": ["-m0=LZMA2", "-ms=on", "-mx=9"],
            "lzma2.7z": ["-m0=LZMA2", "-ms=off"],
            "bcj.7z": ["-mf=BCJ", "-m0=LZMA2"],
            "ppmd.7z": ["-m0=PPMd"],
            "bzip2.7z": ["-m0=BZip2", "-ms=on"],
            "deflate.7z": ["-m0=Deflate", "-ms=off"],
        }
        want = {path: data for path, data in self.fixture.files.items()}
        for name, flags in cases.items():
            with self.subTest(name):
                self.fixture.run(["7zz", "a", "-bso0", "-bsp0", *flags, self.archive(name), "."])
                result = self.listed(name)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(listing_of(result.stdout), expected_from_files(name, want))

    # tar as bsdtar and GNU tar write it, plain and compressed, with long
    # names, links and a sparse file; Python's tarfile is the reference.
    def test_tar_archives(self):
        extra = os.path.join(self.fixture.dir, "in", "links")
        os.makedirs(extra, exist_ok=True)
        long_dir = os.path.join(extra, "d" * 120)
        os.makedirs(long_dir, exist_ok=True)
        with open(os.path.join(long_dir, "n" * 110 + ".rom"), "wb") as out:
            out.write(b"a long name\n")
        with open(os.path.join(extra, "sparse.img"), "wb") as out:
            out.truncate(3 << 20)
            out.write(b"end")
        for link, make in (("soft.rom", os.symlink), ("hard.rom", os.link)):
            if not os.path.lexists(os.path.join(extra, link)):
                make("../code.asm" if make is os.symlink else os.path.join(self.fixture.dir, "in", "code.asm"),
                     os.path.join(extra, link))
        cases = {
            # ustar has no room for the long name: bsdtar leaves it out.
            "bsd-ustar.tar": ["bsdtar", "--format", "ustar", "--exclude", "d" * 120, "-cf"],
            "bsd-pax.tar.gz": ["bsdtar", "--format", "pax", "-czf"],
            "bsd.tar.xz": ["bsdtar", "-cJf"],
            "gnu.tar": ["tar", "--format=gnu", "--sparse", "-cf"],
            "gnu-posix.tgz": ["tar", "--format=posix", "--sparse", "-czf"],
            "gnu.tar.bz2": ["tar", "-cjf"],
            "gnu.tar.zst": ["tar", "--zstd", "-cf"],
        }
        for name, command in cases.items():
            with self.subTest(name):
                self.fixture.run([*command, self.archive(name), "."])
                result = self.listed(name)
                self.assertEqual(result.stderr, b"")
                want = (expected_from_tarfile(self.archive(name), name) if not name.endswith(".zst") else
                        [record for record in listing_of(self.listed("gnu.tar").stdout)])
                if name.endswith(".zst"):
                    want = sorted((record[0].replace(b"gnu.tar?", b"gnu.tar.zst?"), *record[1:]) for record in want)
                self.assertEqual(listing_of(result.stdout), want)
                self.assertIn(b"?./links/sparse.img", result.stdout)
        shutil.rmtree(extra)

    # gzip alone: one image, named after the file, and what gzip -d gives
    # of members written one after the other (zero bytes after them too).
    def test_gzip_files(self):
        data = self.fixture.files["big.rom"]
        half = len(data) // 2

        def gzip(level, part):
            return subprocess.run(["gzip", level, "-c"], input=part, capture_output=True, check=True).stdout

        files = (("big.rom.gz", gzip("-9", data)), ("BIG.ROM.GZ", gzip("-1", data)),
                 ("parts.rom.gz", gzip("-6", data[:half]) + gzip("-1", b"") + gzip("-9", data[half:]) + bytes(512)))
        for name, packed in files:
            with self.subTest(name):
                self.assertEqual(subprocess.run(["gzip", "-dc"], input=packed, capture_output=True,
                                                check=True).stdout, data)
                with open(self.archive(name), "wb") as out:
                    out.write(packed)
                result = self.listed(name)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(listing_of(result.stdout),
                                 expected_from_files(name, {name[:-3]: data}))

    # A 7z archive of a gibibyte of zeros is a few hundred KiB. Inside a zip
    # it draws on the nested part of the budget, which stops it before a
    # byte is unpacked, and the next path is read. (Its file's own images
    # have room for large blank images.)
    def test_7z_of_a_gibibyte_of_zeros_is_stopped_by_the_budget(self):
        zeros = os.path.join(self.fixture.dir, "zeros")
        os.makedirs(zeros, exist_ok=True)
        with open(os.path.join(zeros, "zeros.bin"), "wb") as out:
            out.truncate(1 << 30)
        subprocess.run(["7zz", "a", "-bso0", "-bsp0", "-mx=1", self.archive("zeros.7z"), "zeros.bin"],
                       cwd=zeros, check=True)
        shutil.rmtree(zeros)
        self.assertLess(os.path.getsize(self.archive("zeros.7z")), 1 << 20)
        with open(self.archive("after.rom"), "wb") as out:
            out.write(b"after")
        with zipfile.ZipFile(self.archive("outer.zip"), "w", zipfile.ZIP_STORED) as outer:
            outer.write(self.archive("zeros.7z"), "zeros.7z")
        result = self.listed("outer.zip", "after.rom")
        self.assertEqual(result.stderr, b"imgchk: expansion limit reached at outer.zip?zeros.7z?zeros.bin\n")
        self.assertEqual([record[0] for record in listing_of(result.stdout)], [b"after.rom"])


if __name__ == "__main__":
    IMGCHK = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
