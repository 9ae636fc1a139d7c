#!/usr/bin/env python3
"""Checks the release: the zip holds the program, the banner and the user's guide and nothing
else (in particular neither test stand-in), and the program is a self-contained x64 GUI
executable with the manifest it needs.

Usage: check_release.py BUILD_DIR
"""
import os
import subprocess
import sys
import unittest
import zipfile

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build/mingw"
TOP = "NimbraVIZRecorder-1.0.0-win64/"


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["cmake", "--build", BUILD, "--target", "package"], check=True,
                       stdout=subprocess.DEVNULL, timeout=600)
        cls.zip_path = os.path.join(BUILD, "release", TOP.rstrip("/") + ".zip")
        cls.exe_path = os.path.join(BUILD, "bin", "NimbraVIZRecorder.exe")

    def test_zip_holds_the_program_banner_and_guide_only(self):
        with zipfile.ZipFile(self.zip_path) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
            self.assertEqual(names, sorted(TOP + n for n in [
                "NimbraVIZRecorder.exe",
                "Nimbra_Umbraline VIZ Banner small.bmp",
                "User's Guide.txt",
            ]))
            guide = archive.read(TOP + "User's Guide.txt").decode("utf-8")
            for needed in ("Kinect for Windows Runtime 1.8", "ffmpeg.exe", "settings.ini",
                           "Failed to start FFmpeg.",
                           "Recording stopped: FFmpeg ended unexpectedly.",
                           "already exists"):
                self.assertIn(needed, guide)
            banner = archive.read(TOP + "Nimbra_Umbraline VIZ Banner small.bmp")
            self.assertEqual(banner[:2], b"BM")
            self.assertEqual(int.from_bytes(banner[28:30], "little"), 24)  # bits per pixel

    def test_program_is_a_static_x64_gui_executable_with_its_manifest(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", self.exe_path], check=True,
                              capture_output=True, text=True).stdout
        self.assertIn("file format pei-x86-64", dump)
        self.assertRegex(dump, r"Subsystem\s+00000002")  # Windows GUI
        dlls = {line.split(":", 1)[1].strip().lower()
                for line in dump.splitlines() if "DLL Name:" in line}
        # Only system DLLs: no MinGW runtime beside the program, and the sensor runtime is loaded
        # at run time rather than imported.
        for dll in dlls:
            self.assertNotRegex(dll, r"libstdc|libgcc|winpthread|kinect10")
        with open(self.exe_path, "rb") as exe:
            image = exe.read()
        self.assertIn(b'level="asInvoker"', image)
        self.assertNotIn(b"Microsoft.Windows.Common-Controls", image)
        self.assertNotIn(b"dpiAware", image)


if __name__ == "__main__":
    unittest.main(verbosity=2)
