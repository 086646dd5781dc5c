#!/usr/bin/env python3
"""The Windows zipengine program run under wine (the emulator command given): it creates
archives of a tree at three levels, which Python's zipfile must read back exactly, and its
own list, test and extract agree with them; a damaged entry is reported by test and
extract, with status 2 and the entry's name; Ctrl+C during create leaves the archive it was
replacing and no temporary file."""
import argparse
import glob
import os
import random
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ARGS = None


def run(*args, cwd):
    return subprocess.run(ARGS.emulator.split() + [ARGS.program, *args], cwd=cwd,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=600)


def make_tree(root):
    rng = random.Random(7)
    words = [b"alpha", b"beta", b"gamma", b"update", b"archive"]
    files = {
        "text.txt": b" ".join(rng.choice(words) for _ in range(20000)),
        "random.bin": bytes(rng.getrandbits(8) for _ in range(70000)),
        "sub/runs.bin": b"\0" * 40000 + b"ab" * 20000,
        "sub/deeper/empty.txt": b"",
        "sub/deeper/pattern.bin": bytes(range(256)) * 300,
    }
    for name, data in files.items():
        path = os.path.join(root, "tree", *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return {"tree/" + name: data for name, data in files.items()}


def read_tree(root):
    found = {}
    for folder, _, names in os.walk(os.path.join(root, "tree")):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return found


class ZipengineUnderWine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        self.files = make_tree(self.root)

    def tearDown(self):
        self.dir.cleanup()

    def test_create_read_back_list_test_extract(self):
        for level in ("1", "6", "9"):
            with self.subTest(level=level):
                archive = "out%s.zip" % level
                result = run("create", archive, "-r", "-L", level, "-q", "tree", cwd=self.root)
                self.assertEqual(result.returncode, 0, result.stderr)
                with zipfile.ZipFile(os.path.join(self.root, archive)) as z:
                    self.assertIsNone(z.testzip())
                    names = [i.filename.replace("\\", "/") for i in z.infolist()
                             if not i.filename.endswith(("/", "\\"))]
                    self.assertEqual(sorted(names), sorted(self.files))
                    for info in z.infolist():
                        name = info.filename.replace("\\", "/")
                        if name in self.files:
                            self.assertEqual(z.read(info), self.files[name], name)

                listing = run("list", archive, cwd=self.root)
                self.assertEqual(listing.returncode, 0, listing.stderr)
                text = listing.stdout.decode().replace("\\", "/")
                for name in self.files:
                    self.assertIn(name, text)
                self.assertIn("%d entries" % len(self.files), text)

                tested = run("test", archive, cwd=self.root)
                self.assertEqual(tested.returncode, 0, tested.stderr)
                self.assertIn("No errors detected in %d entries" % len(self.files),
                              tested.stdout.decode())

                out = os.path.join(self.root, "x" + level)
                os.makedirs(out)
                extracted = run("extract", os.path.join("..", archive), "-q", cwd=out)
                self.assertEqual(extracted.returncode, 0, extracted.stderr)
                self.assertEqual(read_tree(out), self.files)

    def test_damaged_entry_is_reported(self):
        result = run("create", "good.zip", "-r", "-L", "6", "-q", "tree", cwd=self.root)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.root, "good.zip"), "rb") as f:
            data = bytearray(f.read())
        with zipfile.ZipFile(os.path.join(self.root, "good.zip")) as z:
            info = next(i for i in z.infolist() if i.filename.endswith("text.txt"))
        # A byte in the middle of the entry's compressed data, after its local header.
        name_len, extra_len = struct.unpack("<HH", data[info.header_offset + 26:
                                                        info.header_offset + 30])
        start = info.header_offset + 30 + name_len + extra_len
        data[start + info.compress_size // 2] ^= 0xFF
        with open(os.path.join(self.root, "bad.zip"), "wb") as f:
            f.write(data)

        tested = run("test", "bad.zip", "-q", cwd=self.root)
        self.assertEqual(tested.returncode, 2)
        self.assertIn("text.txt", (tested.stdout + tested.stderr).decode())

        out = os.path.join(self.root, "x")
        os.makedirs(out)
        extracted = run("extract", os.path.join("..", "bad.zip"), "-q", cwd=out)
        self.assertEqual(extracted.returncode, 2)
        self.assertIn("text.txt", extracted.stderr.decode())
        # The other entries are extracted whole.
        found = read_tree(out)
        for name, data in self.files.items():
            if not name.endswith("text.txt"):
                self.assertEqual(found.get(name), data, name)

    def test_interrupt_leaves_the_old_archive_and_no_temporary_file(self):
        # SIGINT, which wine turns into Ctrl+C for the program, while it compresses a large
        # file. (Not a source that blocks: wine ends a pipe read that SIGINT interrupts as
        # the end of the data, before the program learns of the Ctrl+C.)
        archive = os.path.join(self.root, "out.zip")
        with open(archive, "wb") as f:
            f.write(b"the archive being replaced")
        with open(os.path.join(self.root, "big.bin"), "wb") as f:
            f.write(random.Random(3).randbytes(64 << 20))

        def temporaries():
            return glob.glob(os.path.join(self.root, ".lum*.tmp"))

        proc = subprocess.Popen(
            ARGS.emulator.split() + [ARGS.program, "create", "-q", "-L", "9", "out.zip",
                                     "big.bin"],
            cwd=self.root, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE)
        try:
            deadline = time.time() + 300
            while not temporaries() and proc.poll() is None and time.time() < deadline:
                time.sleep(0.02)
            self.assertTrue(temporaries(), "the temporary file never appeared")
            time.sleep(0.3)
            proc.send_signal(signal.SIGINT)
            err = proc.communicate(timeout=120)[1].decode(errors="replace")
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual(proc.returncode & 0xFF, 0x3A, err)  # STATUS_CONTROL_C_EXIT
        self.assertEqual(temporaries(), [])
        with open(archive, "rb") as f:
            self.assertEqual(f.read(), b"the archive being replaced")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--emulator", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.program = os.path.abspath(ARGS.program)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
