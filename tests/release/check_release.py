#!/usr/bin/env python3
"""Checks the release: the zip holds the program, the banner and the user's guide and nothing
else (in particular neither test stand-in), and the program is a self-contained x64 GUI
executable with the manifest it needs and a version resource with the build's version.

Usage: check_release.py BUILD_DIR
"""
import os
import re
import struct
import subprocess
import sys
import unittest
import zipfile

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build/mingw"


def cached(name):
    """A value the build was configured with (CMakeCache.txt), e.g. the version of project()."""
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise AssertionError(f"CMakeCache.txt has no {name}")


VERSION = cached("CMAKE_PROJECT_VERSION")
LSL_DIR = cached("NVR_LSL_DIR")
TOP = f"NimbraVIZRecorder-{VERSION}-win64/"
RT_VERSION = 16


def rva_to_offset(sections, rva):
    for virtual_address, virtual_size, raw_offset, raw_size in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_offset + rva - virtual_address
    raise AssertionError(f"RVA {rva:#x} is in no section")


def version_resource(image):
    """The bytes of the first RT_VERSION resource of a PE32+ image, found through its resource
    directory (type, then name, then language), or None when it has none."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0", "not a PE image"
    sections_count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    assert struct.unpack_from("<H", image, optional)[0] == 0x20B, "not PE32+"
    resources_rva, resources_size = struct.unpack_from("<II", image, optional + 112 + 2 * 8)
    if resources_size == 0:
        return None
    sections = []
    for index in range(sections_count):
        header = optional + optional_size + 40 * index
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
            "<IIII", image, header + 8)
        sections.append((virtual_address, virtual_size, raw_offset, raw_size))
    root = rva_to_offset(sections, resources_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", image, root + directory + 12)
        for index in range(named + numbered):
            yield struct.unpack_from("<II", image, root + directory + 16 + 8 * index)

    def subdirectory(offset):
        assert offset & 0x80000000, "a resource directory entry that should be a directory"
        return offset & 0x7FFFFFFF

    by_type = next((offset for ident, offset in entries(0) if ident == RT_VERSION), None)
    if by_type is None:
        return None
    by_name = subdirectory(next(offset for _, offset in entries(subdirectory(by_type))))
    data_entry = next(offset for _, offset in entries(by_name))
    assert not data_entry & 0x80000000, "a resource language entry that is a directory"
    data_rva, data_size = struct.unpack_from("<II", image, root + data_entry)
    start = rva_to_offset(sections, data_rva)
    return image[start:start + data_size]


def version_blocks(data, start=0, end=None):
    """The blocks of a VS_VERSIONINFO tree from `start` to `end`: (key, value bytes, is text,
    child blocks) for each."""
    end = len(data) if end is None else end
    blocks = []
    while start + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, start)
        if length == 0:
            break
        key_end = start + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[start + 6:key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        block_end = start + length
        if value_type == 1 and value_length > 0:
            # A string: it runs to the block's end (tools differ on whether wValueLength counts
            # characters or bytes).
            value = data[value_start:block_end]
            children_start = block_end
        else:
            value = data[value_start:value_start + value_length]
            children_start = (value_start + value_length + 3) & ~3
        children = version_blocks(data, children_start, block_end)
        blocks.append((key, value, value_type == 1, children))
        start = (block_end + 3) & ~3
    return blocks


def text(value):
    return value.decode("utf-16-le").rstrip("\0")


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["cmake", "--build", BUILD, "--target", "package"], check=True,
                       stdout=subprocess.DEVNULL, timeout=600)
        cls.zip_path = os.path.join(BUILD, "release", TOP.rstrip("/") + ".zip")
        cls.exe_path = os.path.join(BUILD, "bin", "NimbraVIZRecorder.exe")

    def test_zip_holds_the_program_banner_and_guide_only(self):
        lsl_dll = os.path.join(LSL_DIR, "lsl.dll")
        with_lsl = ["lsl.dll", "lsl.dll License.txt"] if os.path.isfile(lsl_dll) else []
        with zipfile.ZipFile(self.zip_path) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
            self.assertEqual(names, sorted(TOP + n for n in [
                "NimbraVIZRecorder.exe",
                "Nimbra_Umbraline VIZ Banner small.bmp",
                "User's Guide.txt",
            ] + with_lsl))
            if with_lsl:
                with open(lsl_dll, "rb") as dll:
                    self.assertEqual(archive.read(TOP + "lsl.dll"), dll.read())
                self.assertIn("Permission is hereby granted",
                              archive.read(TOP + "lsl.dll License.txt").decode("utf-8"))
            guide = archive.read(TOP + "User's Guide.txt").decode("utf-8")
            major_minor = ".".join(VERSION.split(".")[:2])
            self.assertRegex(guide.splitlines()[0],
                             rf"^Nimbra VIZ Recorder {re.escape(major_minor)}(\.0)? - ")
            for needed in ("Kinect for Windows Runtime 1.8", "ffmpeg.exe", "settings.ini",
                           "Failed to start FFmpeg.",
                           "Recording stopped: FFmpeg ended unexpectedly.",
                           "already exists", "LabRecorder", "pyxdf"):
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
        self.assertIn(f'name="Nimbra.VIZ.Recorder" version="{VERSION}.0"'.encode(), image)
        self.assertNotIn(b"Microsoft.Windows.Common-Controls", image)
        self.assertNotIn(b"dpiAware", image)

    def test_program_carries_its_version_and_maker_in_its_version_resource(self):
        # What Windows shows in the file's properties: the numbers of the fixed block and the
        # strings of the string table that the translation names.
        with open(self.exe_path, "rb") as exe:
            data = version_resource(exe.read())
        self.assertIsNotNone(data, "the program has no version resource")
        [(key, fixed, _, children)] = version_blocks(data)
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        numbers = tuple(int(n) for n in re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", VERSION).groups())
        four = numbers + (0,)
        for ms, ls in ((file_ms, file_ls), (product_ms, product_ls)):
            self.assertEqual((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), four)
        file_type = struct.unpack_from("<I", fixed, 36)[0]
        self.assertEqual(file_type, 1)  # VFT_APP

        by_key = {block[0]: block for block in children}
        [(_, translation, _, _)] = by_key["VarFileInfo"][3]
        language, codepage = struct.unpack("<HH", translation)
        [(table_key, _, _, strings)] = by_key["StringFileInfo"][3]
        self.assertEqual(table_key.upper(), f"{language:04X}{codepage:04X}")
        values = {key: text(value) for key, value, is_text, _ in strings if is_text}
        version_text = ".".join(map(str, four))
        self.assertEqual(values["ProductName"], "Nimbra VIZ Recorder")
        self.assertEqual(values["CompanyName"], "Nimbra Umbraline")
        self.assertTrue(values["FileDescription"].startswith("Nimbra VIZ Recorder"),
                        values["FileDescription"])
        self.assertEqual(values["FileVersion"], version_text)
        self.assertEqual(values["ProductVersion"], version_text)
        self.assertEqual(values["OriginalFilename"], os.path.basename(self.exe_path))


if __name__ == "__main__":
    unittest.main(verbosity=2)
