#!/usr/bin/env python3
"""imgchk --json end to end: every line parsed back with Python's json and
compared field by field with the text listing of the same run.

Usage: json_lines_test.py path/to/imgchk path/to/examples/roms
"""
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

IMGCHK = None
SAMPLES = None
LINE = re.compile(rb"^([ D]) ([0-9A-F]{8}) ([0-9A-F]{4}) +([0-9A-F]+) ((?:[0-9A-F]{4} |     )*)(.*)$")
SUMMARY = re.compile(rb"^(\d+) ROMs, (\d+) unique, (\d+) duplicates, (\d+) unchecked(?:, (\d+) skipped)?$")


def run(args, cwd, user=None):
    result = subprocess.run([IMGCHK] + args, cwd=cwd, capture_output=True, check=False, user=user)
    return result.stdout, result.stderr, result.returncode


def escape(name, high=True):
    return b"".join(b"%%%02X" % byte if byte < 0x20 or byte == 0x7F or (high and byte >= 0x80) else bytes([byte])
                    for byte in name)


def name_bytes(record, key="name"):
    if key + "_hex" in record:
        raw = bytes.fromhex(record[key + "_hex"])
        # Each invalid byte shows as U+FFFD; the rest as it is.
        assert "\ufffd" in record[key]
        return raw
    return record[key].encode()


def forge_crc(prefix, target):
    """`prefix` and four bytes, chosen so that the CRC-32 of the whole is `target`."""
    base = zlib.crc32(prefix + b"\0\0\0\0")
    columns = [zlib.crc32(prefix + (1 << bit).to_bytes(4, "little")) ^ base for bit in range(32)]
    # Gaussian elimination over GF(2): which bits of the tail flip base into target.
    rows = [(columns[bit], 1 << bit) for bit in range(32)]
    want, choice = target ^ base, 0
    for bit in range(32):
        pivot = next((i for i in range(bit, 32) if rows[i][0] >> bit & 1), None)
        rows[bit], rows[pivot] = rows[pivot], rows[bit]
        for i in range(32):
            if i != bit and rows[i][0] >> bit & 1:
                rows[i] = (rows[i][0] ^ rows[bit][0], rows[i][1] ^ rows[bit][1])
    for bit in range(32):
        if want >> bit & 1:
            choice ^= rows[bit][1]
    tail = choice.to_bytes(4, "little")
    assert zlib.crc32(prefix + tail) == target
    return prefix + tail


def write(directory, name, data):
    path = os.path.join(os.fsencode(directory), os.fsencode(name))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def make_zip(path, entries, comment=b"", method=zipfile.ZIP_STORED):
    with zipfile.ZipFile(os.fsdecode(path), "w", method) as archive:
        for name, data in entries:
            archive.writestr(name, data)
        archive.comment = comment
    with open(path, "rb") as f:
        return bytearray(f.read())


def patch_headers(data, name, change):
    """Applies change(bytes, offset of the name) to the local and central header of entry `name`."""
    for signature, name_at in ((b"PK\3\4", 30), (b"PK\1\2", 46)):
        at = data.find(signature)
        while at >= 0:
            name_size = struct.unpack_from("<H", data, at + name_at - 4 if signature == b"PK\3\4" else at + 28)[0]
            if bytes(data[at + name_at:at + name_at + name_size]) == name:
                change(data, at, signature)
            at = data.find(signature, at + 4)
    return data


def check_json_against_text(test, args, cwd):
    """Runs imgchk with and without --json; returns the parsed objects."""
    text_out, text_err, text_status = run(args, cwd)
    json_out, json_err, json_status = run(["--json"] + args, cwd)
    test.assertEqual((json_err, json_status), (text_err, text_status))
    test.assertFalse(json_out.startswith(b"\n") or b"\n\n" in json_out)
    objects = [json.loads(line) for line in json_out.split(b"\n")[:-1]]
    test.assertTrue(json_out.endswith(b"\n"))
    images = [o for o in objects if "type" not in o]
    errors = [o for o in objects if o.get("type") == "error"]
    summary = objects[-1]
    test.assertEqual(summary["type"], "summary")
    test.assertEqual(objects, images + errors + [summary])

    lines = text_out.split(b"\n")
    records = [LINE.match(line) for line in lines if LINE.match(line)]
    colliding = {line[1:] for line in lines if line.startswith(b"\t")}
    test.assertEqual(len(records), len(images))
    for record, image in zip(records, images):
        name = name_bytes(image)
        test.assertEqual(record.group(6), escape(name))
        keys = ["name"] + (["name_hex"] if "name_hex" in image else []) + ["size", "crc", "sum", "sha256",
                                                                             "duplicate", "collision"]
        test.assertEqual(list(image)[:len(keys)], keys)
        test.assertEqual(image["duplicate"], record.group(1) == b"D")
        test.assertEqual(int(image["crc"], 16), int(record.group(2), 16))
        test.assertRegex(image["crc"], "^[0-9a-f]{8}$")
        test.assertEqual(image["sum"], record.group(3).decode().lower())
        test.assertEqual(image["size"] & 0xFFFFFFFF, int(record.group(4), 16))
        test.assertRegex(image["sha256"], "^[0-9a-f]{64}$")
        test.assertEqual(image["collision"], escape(name, high=False) in colliding)
        columns = record.group(5).split()
        if "-m1" in args:
            test.assertEqual(image["segments"], [c.decode().lower() for c in columns])
        elif "-m2" in args:
            test.assertEqual([image["shift16"]], [c.decode().lower() for c in columns])
        else:
            test.assertEqual(columns, [])
    counts = SUMMARY.match(lines[-2] if "-m1" not in args and "-m2" not in args else lines[-3])
    keys = ["roms", "unique", "duplicates", "unchecked"] + (["skipped"] if counts.group(5) else [])
    test.assertEqual(list(summary)[1:], keys + ["errors"])
    test.assertEqual([summary[k] for k in keys], [int(g) for g in counts.groups() if g is not None])
    messages = [line[len(b"imgchk: "):] for line in text_err.split(b"\n")[:-1]]
    test.assertEqual(summary["errors"], len(messages))
    test.assertEqual([escape(name_bytes(e, "message"), high=False) for e in errors], messages)
    for jobs in ("-j1", "-j2", "-j7"):
        test.assertEqual(run([jobs, "--json"] + args, cwd)[0], json_out)
    return images, errors


class JsonLines(unittest.TestCase):

    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.dir = self.temp.name

    def tearDown(self):
        self.temp.cleanup()

    def test_sample_set_lists_as_the_text_does(self):
        for mode in ([], ["-m1"], ["-m2"]):
            check_json_against_text(self, mode + [SAMPLES], self.dir)

    def test_names_of_any_bytes_are_kept(self):
        write(self.dir, b"ctl\x01\x1b[31m\x7f.bin", b"a")
        write(self.dir, "κόσμε-ROM.bin".encode(), b"b")
        write(self.dir, b"bad\xff\xc3(\xed\xa0\x80.bin", b"c")
        write(self.dir, b'quote"back\\slash.bin', b"d")
        # Overlong forms, a code point past U+10FFFF and a cut sequence: each byte replaced.
        write(self.dir, b"\xc0\x80\xe0\x80\x80\xf4\x90\x80\x80\xf0\x9f\x98\x80\xe2\x82.bin", b"e")
        images, _ = check_json_against_text(self, ["."], self.dir)
        names = {name_bytes(image): image for image in images}
        self.assertEqual(names[b"./ctl\x01\x1b[31m\x7f.bin"]["name"], "./ctl\x01\x1b[31m\x7f.bin")
        self.assertNotIn("name_hex", names["./κόσμε-ROM.bin".encode()])
        bad = names[b"./bad\xff\xc3(\xed\xa0\x80.bin"]
        self.assertEqual(bad["name"], "./bad\ufffd\ufffd(\ufffd\ufffd\ufffd.bin")
        self.assertEqual(list(bad)[:2], ["name", "name_hex"])
        odd = names[b"./\xc0\x80\xe0\x80\x80\xf4\x90\x80\x80\xf0\x9f\x98\x80\xe2\x82.bin"]
        self.assertEqual(odd["name"], "./" + "\ufffd" * 9 + "\U0001F600" + "\ufffd" * 2 + ".bin")

    def test_same_as_finds_copies_the_group_rule_leaves_unmarked(self):
        copy = b"0123456789abcdef"
        crc = zlib.crc32(copy)
        write(self.dir, "a1.bin", copy)
        write(self.dir, "a2.bin", forge_crc(b"other size, same CRC", crc))  # sorts between the copies
        write(self.dir, "a3.bin", copy)
        write(self.dir, "c1.bin", b"P" * 12 + b"\0\0\0\0")
        write(self.dir, "c2.bin", forge_crc(b"Q" * 12, zlib.crc32(b"P" * 12 + b"\0\0\0\0")))
        write(self.dir, "c3.bin", b"P" * 12 + b"\0\0\0\0")
        write(self.dir, "d1.bin", b"plain copy")
        write(self.dir, "d2.bin", b"plain copy")
        images, _ = check_json_against_text(self, ["a1.bin", "a2.bin", "a3.bin", "c1.bin", "c2.bin", "c3.bin",
                                                   "d1.bin", "d2.bin"], self.dir)
        by_name = {image["name"]: image for image in images}
        self.assertEqual([by_name[n]["duplicate"] for n in ("a3.bin", "c3.bin", "d2.bin")], [False, False, True])
        self.assertEqual({n: i.get("same_as") for n, i in by_name.items()},
                         {"a1.bin": None, "a2.bin": None, "a3.bin": "a1.bin", "c1.bin": None, "c2.bin": None,
                          "c3.bin": "c1.bin", "d1.bin": None, "d2.bin": "d1.bin"})
        self.assertEqual([by_name[n]["collision"] for n in ("a1.bin", "a2.bin", "c1.bin", "c2.bin", "d1.bin")],
                         [False, False, True, True, False])
        self.assertEqual(list(by_name["a3.bin"])[-1], "same_as")

    def test_pzc_lists_comments(self):
        make_zip(os.path.join(self.dir, "a.zip"), [("x.bin", b"x")], comment="ä comment".encode())
        with open(os.path.join(os.fsencode(self.dir), b"ctl\x1b.zip"), "wb") as f:
            f.write(make_zip(os.path.join(self.dir, "t.zip"), [("y.bin", b"y")], comment=b"raw \xff\x01"))
        os.remove(os.path.join(self.dir, "t.zip"))
        write(self.dir, "broken.zip", b"not an archive")
        out, err, _ = run(["-pzc", "--json", "-j2", "."], self.dir)
        text_out, text_err, _ = run(["-pzc", "."], self.dir)
        self.assertEqual(err, text_err)
        objects = [json.loads(line) for line in out.split(b"\n")[:-1]]
        objects = sorted(objects[:-1], key=lambda o: o["archive"]) + objects[-1:]  # the error comes last
        self.assertEqual(objects[0], {"archive": "./a.zip", "comment": "ä comment"})
        self.assertEqual(objects[1], {"archive": "./ctl\x1b.zip", "comment": "raw \ufffd\x01", "comment_hex": "72617720ff01"})
        self.assertEqual(objects[2], {"type": "error", "name": "./broken.zip", "message": "error opening ./broken.zip",
                                      "reason": "not-an-archive"})
        self.assertEqual(sorted(text_out.split(b"\n")[:-1]), [b"./a.zip: \xc3\xa4 comment", b"./ctl\x1b.zip: raw \xff\x01"])

    def test_each_failure_has_its_message_and_reason(self):
        ctl = b"\x1b]0;x\x07"  # a terminal title sequence in every name
        d = os.fsencode(self.dir)
        entry = b"e" + ctl + b".bin"
        stored = make_zip(os.path.join(d, b"s.zip"), [(entry.decode(), b"stored data here")])

        def flip_data(data, at, signature):
            if signature == b"PK\3\4":
                name_size, extra_size = struct.unpack_from("<HH", data, at + 26)
                data[at + 30 + name_size + extra_size] ^= 0xFF

        def set_field(offset_local, offset_central, fmt, value):
            def change(data, at, signature):
                struct.pack_into(fmt, data, at + (offset_local if signature == b"PK\3\4" else offset_central), value)
            return change

        archives = {
            b"crc" + ctl + b".zip": patch_headers(bytearray(stored), entry, flip_data),
            b"enc" + ctl + b".zip": patch_headers(bytearray(stored), entry, set_field(6, 8, "<H", 1)),
            b"method" + ctl + b".zip": patch_headers(bytearray(stored), entry, set_field(8, 10, "<H", 97)),
            b"data" + ctl + b".zip": patch_headers(
                make_zip(os.path.join(d, b"s.zip"), [(entry.decode(), b"x" * 1000)], method=zipfile.ZIP_DEFLATED),
                entry, flip_data),
            b"huge" + ctl + b".zip": patch_headers(
                make_zip(os.path.join(d, b"s.zip"), [(entry.decode(), b"x" * 1000)], method=zipfile.ZIP_BZIP2),
                entry, set_field(22, 24, "<I", 0xFFFFFFF0)),
            b"not" + ctl + b".zip": b"no end record",
            b"damaged" + ctl + b".zip": stored[:stored.find(b"PK\1\2")] + b"XX" + stored[stored.find(b"PK\1\2") + 2:],
        }
        # A zip64 marker for the size, without the zip64 field it calls for.
        archives[b"stat" + ctl + b".zip"] = patch_headers(bytearray(stored), entry, set_field(22, 24, "<I", 0xFFFFFFFF))
        nested = b"inner"
        for level in range(17):
            nested = bytes(make_zip(os.path.join(d, b"s.zip"), [("n\x1b%d.zip" % level, nested)]))
        archives[b"deep" + ctl + b".zip"] = nested
        os.remove(os.path.join(d, b"s.zip"))
        for name, data in archives.items():
            write(d, b"t/" + name, bytes(data))
        os.mkfifo(os.path.join(d, b"t/fifo" + ctl))
        os.makedirs(os.path.join(d, b"t/loop" + ctl))
        os.symlink(b"..", os.path.join(d, b"t/loop" + ctl + b"/up"))
        _, errors = check_json_against_text(self, ["t", "missing" + ctl.decode()], self.dir)
        found = set()
        for error in errors:
            self.assertNotIn(b"\x1b", name_bytes(error, "message"))
            self.assertIn(b"%1B]0;x%07", name_bytes(error, "message"))
            self.assertIn(ctl, name_bytes(error))
            self.assertEqual(list(error), ["type", "name", "message", "reason"])
            found.add((error["reason"], error["message"].split("%1B")[0]))
        self.assertEqual(found, {
            ("bad-crc", "uncompress of t/crc"), ("encrypted", "uncompress of t/enc"),
            ("unsupported-method", "uncompress of t/method"), ("damaged-data", "uncompress of t/data"),
            ("expansion-limit", "expansion limit reached at t/huge"), ("not-an-archive", "error opening t/not"),
            ("damaged-archive", "error opening t/damaged"), ("damaged-archive", "file stat 0 of t/stat"),
            ("too-deep", "nesting too deep at t/deep"), ("not-a-regular-file", "seek error on t/fifo"),
            ("loop", "directory loop at t/loop"), ("missing", "error opening missing"),
        })

    def test_unreadable_file_is_a_permission_failure(self):
        write(self.dir, "locked.bin", b"x")
        os.chmod(os.path.join(self.dir, "locked.bin"), 0)
        os.chmod(self.dir, 0o755)
        # root reads everything: the run is then nobody's.
        try:
            out, err, _ = run(["--json", "locked.bin"], self.dir, 65534 if os.geteuid() == 0 else None)
        except PermissionError:
            self.skipTest("nobody cannot run imgchk from here")
        self.assertEqual(json.loads(out.split(b"\n")[0]), {"type": "error", "name": "locked.bin",
                                                           "message": "error opening locked.bin",
                                                           "reason": "permission"})


if __name__ == "__main__":
    IMGCHK = os.path.abspath(sys.argv[1])
    SAMPLES = os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1])
