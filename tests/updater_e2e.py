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
import math
import os
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


def make_zip(entries):
    """A ZIP archive (bytes) of {name: data}; names ending in '/' are folders."""
    path = tempfile.mktemp(suffix=".zip")
    try:
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, data in entries.items():
                archive.writestr(name, data)
        with open(path, "rb") as f:
            return f.read()
    finally:
        if os.path.exists(path):
            os.remove(path)


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
        caught = None
        try:
            deadline = time.time() + 180
            while process.poll() is None and time.time() < deadline:
                shot = Screenshot.grab()
                box = shot.content_box() if shot else None
                if box:
                    width = shot.green_run(box[0] + 8, box[1] + 65)
                    if 0 < width < 465:
                        caught = (shot, box, width)
                        if width >= 180:  # well into the extraction: a telling picture
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
        # 6975 * FileIdx / count twips for an index that is a multiple of 32.
        allowed = {pixels(120 + f32(6975.0 * k / count)) - 8 for k in range(0, count, 32)}
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
