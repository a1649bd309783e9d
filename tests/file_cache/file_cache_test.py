#!/usr/bin/env python3
"""imgchk --cache end to end: runs with a cache give the output of runs
without one, in every mode; a file the cache knows is not opened (the test
build counts the files it opens); what must be read again is; bad cache files
are left alone; two runs at once, and a run killed while writing, leave a
cache the next run uses.

Usage: file_cache_test.py path/to/imgchk_test_hooks path/to/examples/roms
"""
import io
import gzip
import os
import shutil
import sqlite3
import stat
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
import zlib

IMGCHK = None
SAMPLES = None
OLD = 1_500_000_000_123_456_789  # a modification time long before any run, in ns
MODES = ([], ["-m1"], ["-m2"], ["-pzc"], ["--json"], ["-m1", "--json"], ["-m2", "--json"], ["-pzc", "--json"],
         ["--dat", "tree.dat"], ["--dat", "tree-md5.dat", "--json"])


def zip_bytes(entries, comment=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            archive.writestr(name, data)
        archive.comment = comment
    return bytearray(buffer.getvalue())


def tar_gz_bytes(entries):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz") as archive:
        for name, data in entries:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def damage_entry(data, name):
    """Flips a byte of the entry's compressed data: a bad CRC or damaged data."""
    at = data.find(b"PK\3\4")
    while at >= 0:
        name_size, extra_size = int.from_bytes(data[at + 26:at + 28], "little"), int.from_bytes(
            data[at + 28:at + 30], "little")
        if bytes(data[at + 30:at + 30 + name_size]) == name:
            data[at + 30 + name_size + extra_size] ^= 0x55
            return data
        at = data.find(b"PK\3\4", at + 4)
    raise AssertionError("no entry " + repr(name))


def make_tree(root):
    """Loose images of the sizes every mode admits, a nested archive with a
    comment, a damaged entry, and a .zip that is no archive; all old."""
    shutil.copytree(SAMPLES, os.path.join(root, "samples"))
    files = {
        "m1.bin": bytes(range(256)) * 48,  # 12 KiB
        "m2.bin": bytes(k * 7 % 256 for k in range(2048)),  # 2 KiB
        "empty.bin": b"",
        "not-a-zip.zip": b"plain bytes",
        "set.zip": zip_bytes([("a.bin", b"a" * 2048), ("inner.zip", zip_bytes([("b.bin", b"b" * 300)], b"inner")),
                              ("bad.bin", b"damaged below " * 100), ("c.bin", b"c" * 0x3800)], b"outer"),
    }
    files["set.zip"] = damage_entry(files["set.zip"], b"bad.bin")
    files["set.tar.gz"] = tar_gz_bytes([("t.bin", b"t" * 2048), ("nested.zip", zip_bytes([("n.bin", b"n" * 99)]))])
    for name, data in files.items():
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
    age_tree(root)


def age_tree(root):
    for folder, _, names in os.walk(root):
        for name in names:
            os.utime(os.path.join(folder, name), ns=(OLD, OLD))


def run(args, cwd, env=None, opened=None):
    """(stdout, stderr, status); with `opened`, also the number of files opened.
    Every file here is new, its status changed just now: rows are stored
    whatever their times, unless `env` says otherwise."""
    environment = dict(os.environ, IMGCHK_TEST_CACHE_RECENT_MS="0")
    environment.update(env or {})
    count_file = os.path.join(cwd, ".opened")
    environment["IMGCHK_TEST_OPENED_COUNT_FILE"] = count_file
    result = subprocess.run([IMGCHK] + args, cwd=cwd, capture_output=True, check=False, env=environment)
    if opened is None:
        return result.stdout, result.stderr, result.returncode
    with open(count_file) as f:
        return result.stdout, result.stderr, result.returncode, int(f.read())


class FileCache(unittest.TestCase):

    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.dir = self.temp.name
        self.tree = os.path.join(self.dir, "tree")
        os.mkdir(self.tree)
        make_tree(self.tree)
        self.cache = os.path.join(self.dir, "cache.sqlite")
        # DATs of the tree itself, for audit runs.
        run(["--dir2dat", "tree.dat", "tree"], self.dir)
        run(["--dir2dat", "tree-md5.dat", "--md5", "tree"], self.dir)

    def tearDown(self):
        self.temp.cleanup()

    def cached(self, args, **kwargs):
        return run(["--cache=" + self.cache] + args, self.dir, opened=True, **kwargs)

    def test_runs_with_the_cache_give_the_output_without_it(self):
        for mode in MODES:
            with self.subTest(mode=mode):
                if os.path.exists(self.cache):
                    os.remove(self.cache)
                want = run(mode + ["tree"], self.dir)
                first = self.cached(mode + ["tree"])
                self.assertEqual(first[:3], want)
                self.assertGreater(first[3], 0)
                for jobs in ([], ["-j1"], ["-j3"]):
                    second = self.cached(jobs + mode + ["tree"])
                    self.assertEqual(second, want + (0,))
        # The failures are replayed in their places.
        self.assertIn(b"uncompress of tree/set.zip?bad.bin failed", run(["tree"], self.dir)[1])

    def test_rows_completed_by_each_mode_serve_every_mode(self):
        self.cached(["tree"])
        for mode in MODES:
            with self.subTest(mode=mode):
                want = run(mode + ["tree"], self.dir)
                self.assertEqual(self.cached(mode + ["tree"])[:3], want)
        # -pzc walks archives its own way, once; -m1 and -m2 complete the
        # rows with their sums; then every mode is a hit.
        for mode in MODES:
            self.assertEqual(self.cached(mode + ["tree"])[3], 0)

    def test_a_run_needing_a_digest_a_row_lacks_reads_again_and_completes_it(self):
        steps = [
            # (arguments, the files opened)
            (["tree"], "all"),
            # The -m1 segment sums: files with an image of 12, 14 or 16 KiB
            # (m1.bin, set.zip and four of the samples); the rest hold them
            # as zero.
            (["-m1", "tree"], 6),
            # The -m2 checksum: files with a 2 KiB image (m2.bin, set.zip,
            # set.tar.gz and three of the samples); completing set.zip and
            # collection.zip keeps their segment sums.
            (["-m2", "tree"], 6),
            (["-m1", "tree"], 0),
            (["-m2", "--json", "tree"], 0),
            (["--dat", "tree-md5.dat", "tree"], "all"),  # SHA-1 and header-less summaries
            (["tree"], 0),
            (["-m1", "tree"], 0),
            (["--dat", "tree-md5.dat", "tree"], 0),
            (["--dat", "tree.dat", "--json", "tree"], 0),
            # A header-less summary by other rules is taken again.
            (["--dat", "tree.dat", "--header", "rules.xml", "tree"], "all"),
            (["--dat", "tree.dat", "--header", "rules.xml", "tree"], 0),
        ]
        with open(os.path.join(self.dir, "rules.xml"), "w") as f:
            f.write('<?xml version="1.0"?>\n<detector><name>test</name>\n'
                    '<rule start_offset="4"><data offset="0" value="48445221"/></rule>\n</detector>\n')
        for args, reads in steps:
            with self.subTest(args=args):
                out, err, status, opened = self.cached(args)
                self.assertEqual((out, err, status), run(args, self.dir))
                if reads == "all":
                    self.assertGreater(opened, 4)
                else:
                    self.assertEqual(opened, reads)

    def test_a_renamed_file_is_read_once_more_then_a_hit_under_its_new_name(self):
        self.cached(["tree"])
        os.rename(os.path.join(self.tree, "m1.bin"), os.path.join(self.tree, "moved.bin"))
        os.rename(os.path.join(self.tree, "set.zip"), os.path.join(self.tree, "samples", "set2.zip"))
        # A rename moves the status-change time on.
        for opened_wanted in (2, 0):
            out, err, status, opened = self.cached(["tree"])
            self.assertEqual((out, err, status), run(["tree"], self.dir))
            self.assertEqual(opened, opened_wanted)
            self.assertIn(b"tree/moved.bin", out)
            self.assertIn(b"tree/samples/set2.zip?inner.zip?b.bin", out)

    def test_a_gzip_image_takes_its_file_s_name_now_on_a_hit(self):
        folder = os.path.join(self.dir, "gz")
        os.mkdir(folder)
        data = bytes(k % 251 for k in range(3000))
        with open(os.path.join(folder, "a.bin.gz"), "wb") as f:
            f.write(gzip.compress(data))
        age_tree(folder)
        self.cached(["gz"])
        # The same file under another name: a hit, named as it is now.
        os.symlink("a.bin.gz", os.path.join(folder, "b.bin.gz"))
        want = ("\n  %08X %04X %6X gz/b.bin.gz?b.bin\n\n1 ROMs, 1 unique, 0 duplicates, 0 unchecked\n"
                % (zlib.crc32(data), sum(data) & 0xFFFF, len(data))).encode()
        self.assertEqual(self.cached(["gz/b.bin.gz"]), (want, b"", 0, 0))
        self.assertEqual(run(["gz/b.bin.gz"], self.dir), (want, b"", 0))
        # Nothing changed in place: the name is no part of the row.
        self.assertEqual(self.cached(["--recheck", "gz/b.bin.gz"])[:3], (want, b"", 0))
        # Renamed, it is read once more (its status changed) under its new name.
        os.remove(os.path.join(folder, "b.bin.gz"))
        os.rename(os.path.join(folder, "a.bin.gz"), os.path.join(folder, "c.bin.gz"))
        self.assertEqual(self.cached(["gz"])[:3], (want.replace(b"b.bin.gz?b.bin", b"c.bin.gz?c.bin"), b"", 0))

    def test_new_bytes_are_read_again(self):
        self.cached(["tree"])
        path = os.path.join(self.tree, "m2.bin")
        cases = [
            # (what is done to the file, files opened by the next cached run, a stale listing)
            ("new bytes, same size, new time", lambda: self.rewrite(path, OLD + 10**9), 1, False),
            # As unpacking an archive over the old copy leaves it; the
            # status-change time tells.
            ("new bytes, same size, old time restored", lambda: self.rewrite(path, None), 1, False),
            ("a new file on the old one's inode, same size and time", lambda: self.refill(path), 1, False),
            # Only a row that lies about its file is stale.
            ("a row that is not its file's", lambda: self.swap_rows(path, os.path.join(self.tree, "m1.bin")), 0,
             True),
        ]
        for label, change, opened, stale in cases:
            with self.subTest(label):
                before = self.cached(["tree"])[0]
                self.assertEqual(before, run(["tree"], self.dir)[0])
                change()
                want = run(["tree"], self.dir)
                out, err, status, count = self.cached(["tree"])
                self.assertEqual(count, opened)
                self.assertEqual(out != want[0], stale)
                if not stale:
                    self.assertEqual((out, err, status), want)
                    continue
                # Only --recheck sees it, tells it, lists the new bytes and
                # mends the row.
                out, err, status, count = self.cached(["--strict", "--recheck", "tree"])
                self.assertEqual(out, want[0])
                self.assertEqual(status, 4)  # --strict: changed bytes count as a fault
                message = b"imgchk: changed without a new modification time: tree/m2.bin\n"
                self.assertEqual(err.count(message), 1)
                self.assertEqual(err.replace(message, b""), want[1])
                self.assertGreater(count, 1)
                self.assertEqual(self.cached(["--recheck", "tree"])[:3], want)
                self.assertEqual(self.cached(["tree"]), want + (0,))

    def refill(self, path):
        """Truncates the file and writes new bytes of the same size into the
        same inode, the time set back: as ext4 may give a deleted file's
        inode to a new one."""
        status = os.stat(path)
        with open(path, "r+b") as f:
            data = bytearray(f.read())
            f.truncate(0)
            f.seek(0)
            f.write(bytes(b ^ 0x33 for b in data))
        os.utime(path, ns=(status.st_mtime_ns, status.st_mtime_ns))
        self.assertEqual(os.stat(path).st_ino, status.st_ino)

    def swap_rows(self, path, other):
        """Gives the row of `path` the results of the row of `other`."""
        database = sqlite3.connect(self.cache)
        results = database.execute("SELECT results FROM files WHERE inode = ?", (os.stat(other).st_ino,)).fetchone()
        database.execute("UPDATE files SET results = ? WHERE inode = ?", (results[0], os.stat(path).st_ino))
        database.commit()
        database.close()

    def rewrite(self, path, mtime_ns):
        """Changes a byte and sets the time, or restores it when None."""
        mtime_ns = mtime_ns or os.stat(path).st_mtime_ns
        with open(path, "r+b") as f:
            data = bytearray(f.read())
            data[5] ^= 0xFF
            f.seek(0)
            f.write(data)
        os.utime(path, ns=(mtime_ns, mtime_ns))

    def test_a_file_changed_just_before_the_run_is_not_kept(self):
        path = os.path.join(self.tree, "m1.bin")
        # A window of an hour: every file of the tree had its status changed
        # within it, whatever its modification time, and none is kept.
        hour = {"IMGCHK_TEST_CACHE_RECENT_MS": "3600000"}
        every = self.cached(["tree"], env=hour)[3]
        self.assertEqual(self.cached(["tree"], env=hour)[3], every)
        # Without a window, a modification time after the run's start still
        # keeps the file from being stored.
        future = 4_000_000_000 * 10**9
        os.utime(path, ns=(future, future))
        self.cached(["tree"])
        self.assertEqual(self.cached(["tree"])[3], 1)
        # touch -d sets an old time, and the file is kept from then on.
        subprocess.run(["touch", "-d", "2001-02-03 04:05:06", path], check=True)
        self.cached(["tree"])
        self.assertEqual(self.cached(["tree"])[3], 0)

    def test_a_cache_that_cannot_be_used_is_left_alone(self):
        want = run(["tree"], self.dir)
        other = sqlite3.connect(os.path.join(self.dir, "other.db"))
        other.execute("CREATE TABLE notes(text)")
        other.commit()
        other.close()
        newer = sqlite3.connect(os.path.join(self.dir, "newer.db"))
        newer.execute("PRAGMA application_id = 1768777571")
        newer.execute("PRAGMA user_version = 3")
        newer.execute("CREATE TABLE files(x)")
        newer.commit()
        newer.close()
        with open(os.path.join(self.dir, "garbage.db"), "wb") as f:
            f.write(b"not a database at all " * 300)
        # A cache of ours whose pages after the header are scrambled.
        run(["--cache=damaged.db", "tree"], self.dir)
        with open(os.path.join(self.dir, "damaged.db"), "r+b") as f:
            data = bytearray(f.read())
            for at in range(4096 + 100, len(data), 7):
                data[at] ^= 0x5A
            f.seek(0)
            f.write(data)
        cases = [
            ("garbage.db", "not a SQLite database"),
            ("damaged.db", "damaged"),
            ("other.db", "not an imgchk cache"),
            ("newer.db", "written by a newer imgchk"),
            ("missing/cache.db", "cannot be opened"),
            (".", "cannot be opened"),
            # A link is never followed, dangling or not: nothing is made
            # where it points, and the cache it points to stays as it was.
            ("dangling.db", "a symbolic link"),
            ("link.db", "a symbolic link"),
        ]
        os.symlink("nowhere.db", os.path.join(self.dir, "dangling.db"))
        os.symlink("damaged.db", os.path.join(self.dir, "link.db"))
        for name, reason in cases:
            with self.subTest(name):
                path = os.path.join(self.dir, name)
                before = self.snapshot(path)
                out, err, status = run(["--cache=" + name, "tree"], self.dir)
                self.assertEqual((out, status), (want[0], want[2]))
                self.assertEqual(err, ("imgchk: cache %s not used: %s\n" % (name, reason)).encode() + want[1])
                self.assertEqual(self.snapshot(path), before)

    def test_a_cache_that_cannot_be_written_is_left_alone(self):
        self.cached(["tree"])
        os.chmod(self.cache, 0o644)
        os.chmod(self.dir, 0o755)
        # Without write or read permission for whoever runs it: root's run is
        # nobody's, which has neither on root's file; anyone else's file is
        # kept from its owner by the mode alone.
        cases = [("a read-only cache", 0o444, "read-only"), ("an unreadable cache", 0o000, "cannot be opened")]
        for label, mode, reason in cases:
            with self.subTest(label):
                os.chmod(self.cache, 0o644)
                before = self.snapshot(self.cache)
                os.chmod(self.cache, mode)
                # root writes everything: the run is then nobody's.
                try:
                    result = subprocess.run([IMGCHK, "--cache=cache.sqlite", "tree"], cwd=self.dir,
                                            capture_output=True, check=False, user=65534 if os.geteuid() == 0 else None)
                except PermissionError:
                    self.skipTest("nobody cannot run imgchk from here")
                want = run(["tree"], self.dir)
                self.assertEqual(result.stdout, want[0])
                self.assertEqual(result.stderr, ("imgchk: cache cache.sqlite not used: %s\n" % reason).encode() + want[1])
                os.chmod(self.cache, 0o644)
                self.assertEqual(self.snapshot(self.cache), before)

    def test_a_full_cache_is_told_once_and_the_run_goes_on(self):
        for k in range(3000):
            with open(os.path.join(self.tree, "fill%04d.bin" % k), "wb") as f:
                f.write(bytes([k % 256]) * (k % 7))
        age_tree(self.tree)
        want = run(["tree"], self.dir)
        # Room for the schema and a few rows, not for 3,000.
        full = {"IMGCHK_TEST_CACHE_PAGE_LIMIT": "12"}
        out, err, status = run(["--cache=cache.sqlite", "tree"], self.dir, env=full)
        self.assertEqual((out, status), (want[0], want[2]))
        message = b"imgchk: cache cache.sqlite not used: disk full\n"
        self.assertEqual(err.count(message), 1)
        self.assertEqual(err.replace(message, b""), want[1])
        # What did fit is used; the rest is read again.
        out, err, status, opened = self.cached(["tree"])
        self.assertEqual((out, err, status), want)
        self.assertGreater(opened, 0)
        self.assertEqual(self.cached(["tree"]), want + (0,))

    def snapshot(self, path):
        if not os.path.isfile(path):
            return sorted(os.listdir(self.dir))
        with open(path, "rb") as f:
            return f.read(), sorted(os.listdir(self.dir))

    def test_a_cache_of_the_first_version_is_upgraded_and_its_rows_dropped(self):
        # Version 1 kept no status-change time: its rows, however well they
        # match their files, are not trusted.
        self.cached(["tree"])
        want = run(["tree"], self.dir)
        database = sqlite3.connect(self.cache)
        database.execute("ALTER TABLE files DROP COLUMN ctime_ns")
        database.execute("UPDATE files SET results = x'01'")  # an empty listing, were it trusted
        database.execute("PRAGMA user_version = 1")
        database.commit()
        database.close()
        out, err, status, opened = self.cached(["tree"])
        self.assertEqual((out, err, status), want)
        self.assertGreater(opened, 4)
        self.assertEqual(self.cached(["tree"]), want + (0,))
        database = sqlite3.connect(self.cache)
        self.assertEqual(database.execute("PRAGMA user_version").fetchone(), (2,))
        database.close()

    def test_the_default_place_is_made_private(self):
        cases = [
            ({"XDG_CACHE_HOME": os.path.join(self.dir, "xdg"), "HOME": "/nonexistent"}, "xdg/imgchk/cache.sqlite"),
            ({"XDG_CACHE_HOME": "relative", "HOME": os.path.join(self.dir, "home")}, "home/.cache/imgchk/cache.sqlite"),
        ]
        for env, place in cases:
            with self.subTest(place):
                self.assertEqual(run(["--cache", "tree"], self.dir, env=env), run(["tree"], self.dir))
                path = os.path.join(self.dir, place)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
                self.assertEqual(stat.S_IMODE(os.stat(os.path.dirname(path)).st_mode), 0o700)
                self.assertEqual(run(["--cache", "tree"], self.dir, env=env, opened=True)[3], 0)
        env = dict(os.environ)
        env.pop("XDG_CACHE_HOME", None)
        env.pop("HOME", None)
        result = subprocess.run([IMGCHK, "--cache", "tree"], cwd=self.dir, capture_output=True, env=env, check=False)
        self.assertTrue(result.stderr.startswith(b"imgchk: cache ~/.cache/imgchk/cache.sqlite not used: "))

    def test_rows_not_seen_for_90_days_are_dropped(self):
        self.cached(["tree"])
        database = sqlite3.connect(self.cache)
        expired = database.execute("UPDATE files SET seen = seen - 91 * 86400 WHERE size = 2048").rowcount
        database.execute("UPDATE files SET seen = seen - 89 * 86400 WHERE size = 12288")
        database.execute("UPDATE settings SET value = 0 WHERE name = 'expired'")
        database.commit()
        database.close()
        self.assertEqual(expired, 3)  # m2.bin and the two pong images
        self.assertEqual(self.cached(["tree"])[3], 3)
        self.assertEqual(self.cached(["tree"])[3], 0)

    def test_two_runs_at_once_both_finish_right(self):
        for k in range(200):
            with open(os.path.join(self.tree, "many%03d.bin" % k), "wb") as f:
                f.write(bytes([k]) * (k + 1))
        age_tree(self.tree)
        want = run(["tree"], self.dir)
        environment = dict(os.environ, IMGCHK_TEST_OPENED_COUNT_FILE="/dev/null")
        runs = [subprocess.Popen([IMGCHK, "--cache=" + self.cache, "tree"], cwd=self.dir, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, env=environment) for _ in range(2)]
        # On a loaded machine one run may find the other holding the database
        # past the busy timeout: it then says so once and lists without it.
        busy = ("imgchk: cache %s not used: busy in another run\n" % self.cache).encode()
        for process in runs:
            out, err = process.communicate()
            self.assertEqual((out, err.replace(busy, b""), process.returncode), want)
        self.assertEqual(self.cached(["tree"])[:3], want)

    def test_a_run_killed_while_writing_leaves_a_cache_the_next_run_uses(self):
        want = run(["tree"], self.dir)
        for row in (0, 3):
            with self.subTest(row=row):
                for name in os.listdir(self.dir):
                    if name.startswith("cache.sqlite"):
                        os.remove(os.path.join(self.dir, name))
                result = run(["--cache=" + self.cache, "tree"], self.dir,
                             env={"IMGCHK_TEST_KILL_WHILE_WRITING_ROW": str(row)})
                self.assertEqual(result[2], -9)
                self.assertEqual(self.cached(["tree"])[:3], want)
                self.assertEqual(self.cached(["tree"]), want + (0,))
                database = sqlite3.connect(self.cache)
                self.assertEqual(database.execute("PRAGMA integrity_check").fetchall(), [("ok",)])
                database.close()


if __name__ == "__main__":
    IMGCHK = os.path.abspath(sys.argv[1])
    SAMPLES = os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1])
