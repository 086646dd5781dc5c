#!/usr/bin/env python3
"""End-to-end runs of the updater program in temporary application folders.

Each case lays out an application folder (the updater itself, a Lumetra.exe stand-in that
records being started, Settings.ini, PROJECTS/LastRun, a Lumetra.zip built here with
Python's zipfile), runs the real program with its token, and then compares every file of
the folder byte for byte with what the run must leave, checks Settings.ini exactly, and
checks whether the application was started.

Natively the stand-in is a shell script. With --emulator the program is a Windows build run
under wine (the caller provides a display, e.g. xvfb-run); the stand-in is then the
lumetra_standin program (--standin), and --screenshot takes a picture of the window in the
middle of an extraction and checks its size and the green bar's pixels.
"""
import argparse
import io
import math
import os
import pty
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ARGS = None
TOKEN = "TOVLEX"

LOG = "Updater.log"
STANDIN_SCRIPT = b'#!/bin/sh\necho started "$@" > "$(dirname "$0")/started.txt"\n'


def windows():
    return bool(ARGS.emulator)


def nl():
    """Line end of settings files: the writer ends the lines it adds with CR LF, as on
    Windows, and the files made here use the same."""
    return "\r\n"


def ini(*lines):
    return "".join(line + nl() for line in lines).encode()


def zeros_ini():
    return ini("[Display]", "Zoom=0", "LockImageZoom=0", "[Sound]", "Enabled=0",
               "[Resize]", "Mode=0", "Value=0", "[Prefix]", "Mode=0", "[Shortcut]", "Ask=0")


def make_zip(entries, stored=()):
    """A ZIP archive (bytes) of {name: data}; names ending in '/' are folders. Names in
    `stored` are written without compression."""
    path = tempfile.mktemp(suffix=".zip")
    try:
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, data in entries.items():
                archive.writestr(name, data, zipfile.ZIP_STORED if name in stored else None)
        with open(path, "rb") as f:
            return f.read()
    finally:
        if os.path.exists(path):
            os.remove(path)


def windows_path(path):
    """A POSIX path as the Windows program under wine sees it."""
    return "Z:" + path.replace("/", "\\")


def zip_entry(package, name):
    """The offset of the first data byte of entry `name` in the archive bytes."""
    with zipfile.ZipFile(io.BytesIO(package)) as archive:
        offset = archive.getinfo(name).header_offset
    name_length, extra_length = struct.unpack("<HH", package[offset + 26:offset + 30])
    return offset + 30 + name_length + extra_length


class AppFolder:
    """A temporary application folder with the updater and a Lumetra.exe stand-in."""

    def __init__(self, testcase):
        self.path = tempfile.mkdtemp(prefix="lum-e2e-")
        testcase.addCleanup(shutil.rmtree, self.path, True)
        self.exe = "Updater.exe" if windows() else "updater"
        shutil.copy(ARGS.updater, os.path.join(self.path, self.exe))
        if windows():
            shutil.copy(ARGS.standin, os.path.join(self.path, "Lumetra.exe"))
        else:
            self.write("Lumetra.exe", STANDIN_SCRIPT)
            os.chmod(os.path.join(self.path, "Lumetra.exe"), 0o755)

    def file(self, rel):
        return os.path.join(self.path, *rel.split("/"))

    def write(self, rel, data):
        os.makedirs(os.path.dirname(self.file(rel)), exist_ok=True)
        with open(self.file(rel), "wb") as f:
            f.write(data)

    def mkdir(self, rel):
        os.makedirs(self.file(rel), exist_ok=True)

    def snapshot(self):
        """{relative path: bytes} for files, {relative path + '/': None} for folders. The
        update log is left out: each run adds to it (see log_lines)."""
        found = {}
        for root, dirs, files in os.walk(self.path):
            rel_root = os.path.relpath(root, self.path)
            for d in dirs:
                found[os.path.normpath(os.path.join(rel_root, d)).replace(os.sep, "/") + "/"] = None
            for name in files:
                if rel_root == "." and name == LOG:
                    continue
                rel = os.path.normpath(os.path.join(rel_root, name)).replace(os.sep, "/")
                with open(os.path.join(root, name), "rb") as f:
                    found[rel] = f.read()
        return found

    def log_lines(self):
        """The update log's lines without their time stamps."""
        if not os.path.exists(self.file(LOG)):
            return []
        with open(self.file(LOG), "rb") as f:
            return [line.split("  ", 1)[1] for line in f.read().decode().splitlines()]

    def run(self, *args, timeout=120):
        command = ARGS.emulator.split() if windows() else []
        command += [os.path.join(self.path, self.exe), *args]
        return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout)

    def started(self, expected):
        """Whether the stand-in ran; waits for it when it is expected."""
        marker = self.file("started.txt")
        deadline = time.time() + (30 if expected else 1.0 if windows() else 0.3)
        while time.time() < deadline:
            if os.path.exists(marker):
                break
            time.sleep(0.05)
        if not os.path.exists(marker):
            return False
        time.sleep(0.1)  # let the stand-in finish its line
        os.remove(marker)
        return True


class UpdaterRuns(unittest.TestCase):
    def installation(self, settings=None, package=None, last_run=b"user's last run\n"):
        folder = AppFolder(self)
        if settings is not None:
            folder.write("Settings.ini", settings)
        if package is not None:
            folder.write("Lumetra.zip", package)
        if last_run is not None:
            folder.write("PROJECTS/LastRun", last_run)
        return folder

    def assertFolder(self, folder, expected):
        actual = folder.snapshot()
        self.assertEqual(sorted(actual), sorted(expected))
        for rel, data in expected.items():
            self.assertEqual(actual[rel], data, rel)

    def test_other_command_lines_touch_nothing(self):
        package = make_zip({"Lumetra.exe": b"new", "PROJECTS/LastRun": b"package's"})
        folder = self.installation(ini("[Display]", "Zoom=2"), package)
        before = folder.snapshot()
        cases = [["tovlex"], [], [TOKEN, "extra"], [TOKEN + "X"], [TOKEN + " "], [" " + TOKEN]]
        for args in cases[:3] if windows() else cases:  # each start under wine is slow
            result = folder.run(*args)
            self.assertEqual(result.returncode, 0, args)
            self.assertFalse(folder.started(False), args)
            self.assertFolder(folder, before)

    def test_settings_are_carried_across(self):
        # No package: the message goes to standard error and the settings are still written.
        folder = self.installation(ini("[Display]", "Zoom=0.5", "[Sound]", "Enabled=",
                                       "[Resize]", "Mode=abc", "Value=2.5"))
        if windows():
            folder.write("Lumetra.zip", make_zip({}))  # a message box would wait for OK
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        expected["Settings.ini"] = ini("[Display]", "Zoom=0.5", "LockImageZoom=-1", "[Sound]",
                                       "Enabled=-1", "[Resize]", "Mode=0", "Value=2",
                                       "[Prefix]", "Mode=0", "[Shortcut]", "Ask=0")
        self.assertEqual(folder.started(windows()), windows())
        self.assertFolder(folder, expected)

    def test_zoom_zero_and_rounding_half_to_even(self):
        folder = self.installation(ini("[Display]", "Zoom=abc", "LockImageZoom=&H10",
                                       "[Resize]", "Value=3.5", "Mode= 1 2"),
                                   package=make_zip({}))
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        expected["Settings.ini"] = ini("[Display]", "Zoom=1", "LockImageZoom=16", "[Resize]",
                                       "Value=4", "Mode=12", "[Sound]", "Enabled=-1",
                                       "[Prefix]", "Mode=0", "[Shortcut]", "Ask=0")
        self.assertFolder(folder, expected)

    def test_no_settings_file_writes_zeros(self):
        folder = self.installation(package=make_zip({}))
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        expected["Settings.ini"] = zeros_ini()
        self.assertFolder(folder, expected)

    def test_overflow_ends_with_status_one_and_touches_nothing(self):
        folder = self.installation(ini("[Resize]", "Value=2147483648"),
                                   package=make_zip({"new.txt": b"new"}))
        before = folder.snapshot()
        if windows():
            # The report is a message box that waits for OK: nothing may have been touched
            # while it is shown.
            with self.assertRaises(subprocess.TimeoutExpired):
                folder.run(TOKEN, timeout=20)
        else:
            result = folder.run(TOKEN)
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"Updater: Overflow", result.stderr)
        self.assertFalse(folder.started(False))
        self.assertFolder(folder, before)

    def test_missing_package_is_reported(self):
        if windows():
            self.skipTest("the message box waits for OK")
        folder = self.installation(ini("[Sound]", "Enabled=0"))
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0)
        self.assertIn(("Updater: Can't Find\n" + folder.path + "/Lumetra.zip\n").encode(),
                      result.stderr)
        self.assertFalse(folder.started(False))
        expected["Settings.ini"] = ini("[Sound]", "Enabled=0", "[Display]", "Zoom=1",
                                       "LockImageZoom=-1", "[Resize]", "Mode=2", "Value=360",
                                       "[Prefix]", "Mode=0", "[Shortcut]", "Ask=0")
        self.assertFolder(folder, expected)

    def test_package_that_cannot_be_opened(self):
        folder = self.installation(package=b"this is not a zip archive")
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        expected["Settings.ini"] = zeros_ini()
        self.assertFolder(folder, expected)

    # The cases below need extraction from the archive engine.

    def test_update_keeps_the_users_last_run(self):
        package = make_zip({"Lumetra.dat": b"new application data", "data/": b"",
                            "data/readme.txt": b"hello\n" * 50,
                            "PROJECTS/LastRun": b"package's last run"})
        folder = self.installation(ini("[Display]", "Zoom=1.25"), package)
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        expected.update({"Lumetra.dat": b"new application data", "data/": None,
                         "data/readme.txt": b"hello\n" * 50})
        expected["Settings.ini"] = ini("[Display]", "Zoom=1.25", "LockImageZoom=-1",
                                       "[Sound]", "Enabled=-1", "[Resize]", "Mode=2",
                                       "Value=360", "[Prefix]", "Mode=0", "[Shortcut]", "Ask=0")
        self.assertFolder(folder, expected)

    def test_without_last_run_the_packages_copy_is_removed(self):
        package = make_zip({"new.txt": b"new", "PROJECTS/LastRun": b"package's last run"})
        folder = self.installation(package=package, last_run=None)
        folder.mkdir("PROJECTS")
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        expected["new.txt"] = b"new"
        expected["Settings.ini"] = zeros_ini()
        self.assertFolder(folder, expected)

    def test_last_run_that_cannot_be_put_aside_stops_the_extraction(self):
        package = make_zip({"new.txt": b"new", "PROJECTS/LastRun": b"package's last run"})
        folder = self.installation(package=package)
        folder.mkdir("LastRun")  # a folder where the aside copy should go
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        expected["Settings.ini"] = zeros_ini()
        self.assertFolder(folder, expected)  # nothing extracted, LastRun untouched

    def test_package_with_its_own_settings(self):
        package_ini = ini("[Display]", "Zoom=3", "Theme=dark", "[Shortcut]", "Ask=1",
                          "[Window]", "Left=10")
        package = make_zip({"Settings.ini": package_ini})
        folder = self.installation(ini("[Display]", "Zoom=0.75", "[Prefix]", "Mode=7"), package)
        expected = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        expected["Settings.ini"] = ini("[Display]", "Zoom=0.75", "Theme=dark",
                                       "LockImageZoom=-1", "[Shortcut]", "Ask=0", "[Window]",
                                       "Left=10", "[Sound]", "Enabled=-1", "[Resize]", "Mode=2",
                                       "Value=360", "[Prefix]", "Mode=7")
        self.assertFolder(folder, expected)

    def test_progress_lines(self):
        if windows():
            self.skipTest("the window is checked by the screenshot")
        package = make_zip({"f%03d.txt" % i: b"x" * i for i in range(100)})
        folder = self.installation(package=package)
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stderr.decode().splitlines()
        self.assertEqual(lines, [
            "Updating ...",
            "Updating ... 0/100 (0%)",
            "Updating ... 32/100 (32%)",
            "Updating ... 64/100 (64%)",
            "Updating ... 96/100 (96%)",
        ])

    def test_bar_on_a_terminal_covers_the_whole_run(self):
        if windows():
            self.skipTest("the window is checked by the screenshot")
        package = make_zip({"f%03d.txt" % i: b"x" * i for i in range(100)})
        folder = self.installation(package=package)
        master, slave = pty.openpty()
        try:
            process = subprocess.Popen([os.path.join(folder.path, folder.exe), TOKEN],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=slave)
            os.close(slave)
            slave = None
            output = b""
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # the terminal's last writer has gone
                    break
                if not chunk:
                    break
                output += chunk
            self.assertEqual(process.wait(timeout=120), 0)
        finally:
            os.close(master)
            if slave is not None:
                os.close(slave)
        self.assertTrue(folder.started(True))
        # Each drawing of the window holds one bar: its green cells, then the rest.
        frames = [(len(green), len(green) + len(rest), (green + rest).strip().decode())
                  for green, rest in re.findall(rb"\x1b\[30;42m(.*?)\x1b\[30;47m(.*?)\x1b\[0m",
                                                output)]
        self.assertTrue(frames, output)
        cells = frames[0][1]
        filled = [frame[0] for frame in frames]
        self.assertEqual(filled, sorted(filled), frames)  # never backwards
        self.assertEqual(filled[-1], cells, frames)  # full at the end
        # The captions are those of the checked entries, the last one staying while the
        # commit moves the bar on; checking and staging fill only the first part.
        captions = [frame[2] for frame in frames if frame[2]]
        self.assertEqual(sorted(set(captions)), ["0/100  (0%)", "32/100  (32%)",
                                                 "64/100  (64%)", "96/100  (96%)"])
        staging = [frame[0] for frame in frames if frame[2] != "96/100  (96%)"]
        self.assertLess(max(staging), cells * 0.6)
        committing = {frame[0] for frame in frames if frame[2] == "96/100  (96%)"}
        self.assertGreaterEqual(len(committing), 4, frames)

    # Staged updates: a package is applied as a whole or not at all.

    def user_installation(self, package):
        """An installation with the user's settings, LastRun and files that a package replaces."""
        folder = self.installation(ini("[Display]", "Zoom=0.75", "[Prefix]", "Mode=7"), package)
        folder.write("Lumetra.dat", b"old application data")
        folder.write("data/keep.txt", b"the user's own file")
        return folder

    def assertUserDataKept(self, folder):
        with open(folder.file("PROJECTS/LastRun"), "rb") as f:
            self.assertEqual(f.read(), b"user's last run\n")
        self.assertFalse(os.path.exists(folder.file("LastRun")))
        with open(folder.file("Settings.ini"), "rb") as f:
            text = f.read()
        for line in (b"Zoom=0.75", b"Mode=7", b"Ask=0"):
            self.assertIn(line + nl().encode(), text)

    def assertRunChangesNothing(self, folder):
        """One run starts the program and leaves every file as it was (Settings.ini aside,
        whose user data is kept)."""
        before = folder.snapshot()
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        after = folder.snapshot()
        del before["Settings.ini"], after["Settings.ini"]
        self.assertEqual(after, before)
        self.assertUserDataKept(folder)

    def assertNoWorkLeft(self, folder):
        for name in ("~UpdateStage", "~UpdateBackup", "~Update.journal"):
            self.assertFalse(os.path.exists(folder.file(name)), name)

    def test_damaged_entry_near_the_end_changes_nothing(self):
        entries = {"f%04d.txt" % i: b"new %d\n" % i * 20 for i in range(300)}
        entries["Lumetra.dat"] = b"new application data"
        package = bytearray(make_zip(entries, stored={"f0290.txt"}))
        info = zip_entry(bytes(package), "f0290.txt")
        package[info] ^= 0xFF  # one byte of the stored data: its CRC-32 no longer matches
        folder = self.user_installation(bytes(package))
        self.assertRunChangesNothing(folder)
        self.assertNoWorkLeft(folder)
        self.assertTrue(any(line.startswith("package not applied: it failed verification")
                            for line in folder.log_lines()), folder.log_lines())

    def test_update_is_logged(self):
        folder = self.user_installation(make_zip({"Lumetra.dat": b"new", "help/a.txt": b"a"}))
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        self.assertEqual(folder.log_lines(), [
            "token accepted", "settings read from Settings.ini",
            "package verified: 2 entries, 4 bytes", "staged 3 files and folders",
            "committed: 2 files in place", "application started", "settings written"])
        self.assertNoWorkLeft(folder)

    def test_root_last_run_and_leftover_aside_copy(self):
        package = make_zip({"LastRun": b"package's root LastRun", "new.txt": b"new",
                            "PROJECTS/LastRun": b"package's", "PROJECTS/other.prj": b"p"})
        folder = self.user_installation(package)
        # An earlier run was killed after it put the user's file aside and the package's
        # copy had replaced it.
        folder.write("LastRun", b"user's last run\n")
        folder.write("PROJECTS/LastRun", b"package's")
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        self.assertUserDataKept(folder)
        with open(folder.file("PROJECTS/other.prj"), "rb") as f:
            self.assertEqual(f.read(), b"p")

    def test_package_holding_lumetra_zip(self):
        inner = make_zip({"next.txt": b"next"})
        folder = self.user_installation(make_zip({"Lumetra.zip": inner, "new.txt": b"new"}))
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        snap = folder.snapshot()
        self.assertEqual(snap["new.txt"], b"new")
        self.assertEqual(snap["Lumetra.zip"], inner)
        self.assertUserDataKept(folder)

    def test_utf16_settings_file(self):
        text = ini("[Display]", "Zoom=0.75", "[Prefix]", "Mode=7").decode()
        folder = self.installation(b"\xff\xfe" + text.encode("utf-16-le"), make_zip({}))
        result = folder.run(TOKEN)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        with open(folder.file("Settings.ini"), "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"\xff\xfe"), data[:20])
        lines = data[2:].decode("utf-16-le").split(nl())
        for line in ("Zoom=0.75", "Mode=7", "Enabled=-1", "LockImageZoom=-1", "Value=360",
                     "Ask=0"):
            self.assertIn(line, lines)

    def test_full_volume(self):
        if windows():
            self.skipTest("needs a small volume of its own")
        folder = AppFolder(self)
        small = tempfile.mkdtemp(prefix="lum-e2e-small-")
        self.addCleanup(shutil.rmtree, small, True)
        size = os.path.getsize(ARGS.updater) + (2 << 20)  # the program and 2 MiB more
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", small],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a small tmpfs: " + mounted.stderr.decode().strip())
        self.addCleanup(subprocess.run, ["umount", "-l", small])
        for name in os.listdir(folder.path):
            shutil.copy2(os.path.join(folder.path, name), small)
        folder.path = small
        folder.write("Settings.ini", ini("[Display]", "Zoom=0.75", "[Prefix]", "Mode=7"))
        folder.write("PROJECTS/LastRun", b"user's last run\n")
        folder.write("Lumetra.dat", b"old application data")
        # 4 MB that compress to a few kilobytes: the package fits, its content does not.
        folder.write("Lumetra.zip", make_zip({"big%d.dat" % i: bytes(1 << 20) for i in range(4)}
                                             | {"Lumetra.dat": b"new"}))
        self.assertRunChangesNothing(folder)
        self.assertTrue(any("not enough free space" in line for line in folder.log_lines()))

    def test_broken_or_closed_standard_error(self):
        if windows():
            self.skipTest("POSIX standard streams")
        package = make_zip({"f%03d.txt" % i: b"x" * i for i in range(200)})
        for how in ("broken pipe", "closed"):
            folder = self.user_installation(package)
            command = [os.path.join(folder.path, folder.exe), TOKEN]
            if how == "closed":
                result = subprocess.run(["sh", "-c", 'exec "$0" "$1" 2>&-', *command],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        timeout=60)
            else:
                read_end, write_end = os.pipe()
                os.close(read_end)  # the reader has gone before the first line
                result = subprocess.run(command, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=write_end, timeout=60)
                os.close(write_end)
            self.assertEqual(result.returncode, 0, how)
            self.assertTrue(folder.started(True), how)
            self.assertEqual(len([n for n in os.listdir(folder.path) if n.startswith("f")]),
                             200, how)
            self.assertUserDataKept(folder)

    def test_pipe_named_settings_ini_does_not_block(self):
        if windows():
            self.skipTest("POSIX special files")
        folder = self.installation(None, make_zip({"new.txt": b"new"}))
        os.mkfifo(folder.file("Settings.ini"))
        result = folder.run(TOKEN, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(folder.started(True))
        self.assertTrue(os.path.exists(folder.file("new.txt")))

    def test_file_held_open_by_another_program(self):
        if not windows():
            self.skipTest("POSIX has no share modes; rename replaces an open file")
        for hold_ms, applied in ((60000, False), (4000, True)):
            folder = self.user_installation(make_zip({"Lumetra.dat": b"new", "new.txt": b"n"}))
            before = folder.snapshot()
            marker = tempfile.mktemp(prefix="lum-e2e-held-")
            self.addCleanup(lambda m=marker: os.path.exists(m) and os.remove(m))
            holder = subprocess.Popen(
                ARGS.emulator.split() + [ARGS.standin, "--hold",
                                         windows_path(folder.file("Lumetra.dat")),
                                         str(hold_ms), windows_path(marker)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                deadline = time.time() + 60
                while not os.path.exists(marker) and time.time() < deadline:
                    time.sleep(0.1)
                self.assertTrue(os.path.exists(marker), "the holder did not open the file")
                result = folder.run(TOKEN, timeout=180)
            finally:
                holder.kill()
                holder.wait()
            self.assertEqual(result.returncode, 0, hold_ms)
            self.assertTrue(folder.started(True), hold_ms)
            after = folder.snapshot()
            if applied:
                self.assertEqual(after["Lumetra.dat"], b"new")
                self.assertEqual(after["new.txt"], b"n")
            else:
                del before["Settings.ini"], after["Settings.ini"]
                self.assertEqual(after, before)
                self.assertTrue(any("stayed in use" in line for line in folder.log_lines()),
                                folder.log_lines())
            self.assertUserDataKept(folder)
            self.assertNoWorkLeft(folder)

    def test_kill_at_any_moment_then_one_more_run(self):
        if windows():
            self.skipTest("killing a program under wine does not stop it at once")
        count = 3000
        entries = {"Settings.ini": ini("[Display]", "Zoom=3", "Theme=dark"),
                   "PROJECTS/LastRun": b"package's last run", "Lumetra.dat": b"new data"}
        entries.update({"data/d%02d/f%05d.txt" % (i // 100, i): b"line %d\n" % i * 40
                        for i in range(count)})
        package = make_zip(entries)
        new_files = {"data/d%02d/f%05d.txt" % (i // 100, i): b"line %d\n" % i * 40
                     for i in range(count)}
        for moment in (10, 50, 90, "commit"):
            folder = self.user_installation(package)
            folder.write("data/d05/f00500.txt", b"old version")
            command = [os.path.join(folder.path, folder.exe), TOKEN]
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            try:
                if moment == "commit":
                    journal = folder.file("~Update.journal")
                    while process.poll() is None and not os.path.exists(journal):
                        pass
                else:
                    for line in process.stderr:
                        if line.endswith(b"%)\n") and int(line.split(b"(")[1][:-3]) >= moment:
                            break
                process.kill()
            finally:
                process.wait()
                process.stderr.close()
            result = folder.run(TOKEN)
            self.assertEqual(result.returncode, 0, (moment, result.stderr))
            self.assertTrue(folder.started(True), moment)
            snap = folder.snapshot()
            for rel, data in new_files.items():
                self.assertEqual(snap.get(rel), data, (moment, rel))
            self.assertEqual(snap["Lumetra.dat"], b"new data", moment)
            self.assertEqual(snap["data/keep.txt"], b"the user's own file", moment)
            self.assertUserDataKept(folder)
            self.assertIn(b"Theme=dark", snap["Settings.ini"], moment)
            self.assertNoWorkLeft(folder)

    def test_window_during_extraction(self):
        if not windows() or not ARGS.screenshot:
            self.skipTest("needs the Windows program and a display")
        count = 3000
        package = make_zip({"data/d%02d/f%05d.txt" % (i // 100, i): b"line %d\n" % i * 300
                            for i in range(count)})
        folder = self.installation(package=package)
        command = ARGS.emulator.split() + [os.path.join(folder.path, folder.exe), TOKEN]
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Checking and staging the package fill the first 60 % of the bar, the commit the rest.
        staging_end = pixels(120 + 6975 * 0.6) - 8
        caught = None
        try:
            deadline = time.time() + 180
            while process.poll() is None and time.time() < deadline:
                shot = Screenshot.grab()
                box = shot.content_box() if shot else None
                if box:
                    width = shot.green_run(box[0] + 8, box[1] + 65)
                    if 0 < width < staging_end:
                        caught = (shot, box, width)
                        if width >= 120:  # well into the extraction: a telling picture
                            break
                time.sleep(0.1)
            process.wait(timeout=180)
        finally:
            if process.poll() is None:
                process.kill()
        self.assertIsNotNone(caught, "no picture of the window during the extraction")
        shot, (left, top, right, bottom), width = caught
        caught[0].save_crop(ARGS.screenshot, left, top, right, bottom)

        # The client area is 7200 x 1470 twips: 480 x 98 pixels at 96 DPI.
        self.assertEqual((right - left, bottom - top), (480, 98))
        # The green bar: 25 rows from (8, 64), as wide as the last update said, which is
        # 6975 * 60 % * FileIdx / count twips for an index that is a multiple of 32.
        allowed = {pixels(120 + f32(6975.0 * (0.0 + 0.6 * k / count))) - 8
                   for k in range(0, count, 32)}
        self.assertIn(width, allowed)
        column = left + 8
        self.assertEqual([shot.pixel(column, top + y) == GREEN for y in range(62, 91)],
                         [False] * 2 + [True] * 25 + [False] * 2)
        self.assertNotEqual(shot.pixel(left + 7, top + 70), GREEN)
        self.assertNotEqual(shot.pixel(left + 8 + width, top + 65), GREEN)
        self.assertTrue(folder.started(True))
        self.assertEqual(len(os.listdir(folder.file("data"))), count // 100)


GREEN = (0, 221, 0)


def f32(value):
    """The value rounded to single precision, as the bar's width is kept."""
    return struct.unpack("f", struct.pack("f", value))[0]


def pixels(twips):
    """Twips to whole pixels at 96 DPI, rounding halves away from zero."""
    return math.floor(twips * 96 / 1440 + 0.5)


class Screenshot:
    """The whole virtual screen, RGB."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @staticmethod
    def grab():
        result = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                                capture_output=True)
        data = result.stdout
        if result.returncode != 0 or not data.startswith(b"P6"):
            return None
        fields, at = [], 2
        while len(fields) < 3:  # width, height, maximum value
            while data[at:at + 1].isspace():
                at += 1
            end = at
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(int(data[at:end]))
            at = end
        width, height = fields[0], fields[1]
        pixels_data = data[at + 1:]
        if len(pixels_data) < width * height * 3:
            return None
        return Screenshot(width, height, pixels_data)

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.data[at:at + 3])

    def content_box(self):
        """(left, top, right, bottom) of everything that is not the black background."""
        rows = [y for y in range(self.height)
                if self.data[y * self.width * 3:(y + 1) * self.width * 3].strip(b"\0")]
        if not rows:
            return None
        left, right = self.width, 0
        for y in rows:
            row = self.data[y * self.width * 3:(y + 1) * self.width * 3]
            first = (len(row) - len(row.lstrip(b"\0"))) // 3
            last = (len(row.rstrip(b"\0")) + 2) // 3
            left, right = min(left, first), max(right, last)
        return left, rows[0], right, rows[-1] + 1

    def green_run(self, x, y):
        run = 0
        while x + run < self.width and self.pixel(x + run, y) == GREEN:
            run += 1
        return run

    def save_crop(self, path, left, top, right, bottom):
        header = b"P6 %d %d 255\n" % (self.width, self.height)
        subprocess.run(["convert", "ppm:-", "-crop",
                        "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
                        "png:" + path], input=header + self.data, check=True)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--updater", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--standin", default="")
    parser.add_argument("--screenshot", default="")
    ARGS, rest = parser.parse_known_args()
    ARGS.updater = os.path.abspath(ARGS.updater)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
