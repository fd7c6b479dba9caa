"""kelvane.exe as Windows sees the file: headers, imports and resources, and
that two clean builds from different folders give the same program and the
same installer, byte for byte."""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import pefile

SOURCE = Path(__file__).resolve().parent.parent
EXE = Path(os.environ["KELVANE_EXE"])
VERSION = os.environ["KELVANE_VERSION"]
US_ENGLISH = 0x0409
STRINGS = [("CompanyName", ""), ("FileVersion", VERSION),
           ("FileDescription", "Opens a console in the target folder"),
           ("InternalName", "kelvane.exe"), ("LegalCopyright", None), ("LegalTrademarks", None),
           ("OriginalFilename", "kelvane.exe"), ("ProductName", "kelvane.exe"),
           ("ProductVersion", VERSION)]


def binary_version(version):
    """The version record's (MS, LS) pair for MAJOR.MINOR[.PATCH]."""
    major, minor, patch = (int(part) for part in (version.split(".") + ["0"])[:3])
    return (major << 16) | minor, patch << 16


def resources(pe):
    """{(type, id): [(language, bytes)]} for every resource in the image."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for item in kind.directory.entries:
            for language in item.directory.entries:
                entry = language.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                found.setdefault((kind.id, item.id), []).append((language.id, data))
    return found


class Image(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(str(EXE))
        cls.resources = resources(cls.pe)

    def test_headers_and_imports(self):
        pe = self.pe
        self.assertEqual(0x10B, pe.OPTIONAL_HEADER.Magic)  # PE32
        self.assertEqual(0x14C, pe.FILE_HEADER.Machine)  # i386
        self.assertEqual(2, pe.OPTIONAL_HEADER.Subsystem)  # Windows GUI
        self.assertEqual(0, pe.FILE_HEADER.TimeDateStamp)
        dlls = sorted(entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT)
        # user32, shell32 and ole32 are loaded only on the roads that need them.
        self.assertEqual(["kernel32.dll", "msvcrt.dll"], dlls)
        # Its start restricts the loader's search (start.cpp).
        kernel32 = next(entry for entry in pe.DIRECTORY_ENTRY_IMPORT if entry.dll.decode().lower() == "kernel32.dll")
        self.assertIn(b"SetDefaultDllDirectories", [imported.name for imported in kernel32.imports])
        # A goal, not today's size: every road in 24 KB.
        self.assertLessEqual(EXE.stat().st_size, 24576)
        # The program is built unsigned; a signature goes on when a release is.
        security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        self.assertEqual(0, security.Size)

    def test_resource_set(self):
        self.assertEqual({(pefile.RESOURCE_TYPE["RT_VERSION"], 1),
                          (pefile.RESOURCE_TYPE["RT_GROUP_ICON"], 10000),
                          (pefile.RESOURCE_TYPE["RT_ICON"], 1),
                          (pefile.RESOURCE_TYPE["RT_MANIFEST"], 1),
                          (pefile.RESOURCE_TYPE["RT_MANIFEST"], 2)}, set(self.resources))
        for key, copies in self.resources.items():
            with self.subTest(resource=key):
                self.assertEqual([US_ENGLISH], [language for language, _ in copies])

    def test_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(binary_version(VERSION) * 2,
                         (fixed.FileVersionMS, fixed.FileVersionLS,
                          fixed.ProductVersionMS, fixed.ProductVersionLS))
        self.assertEqual((0, 0, 0, 1, 0, 0, 0),
                         (fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS, fixed.FileType,
                          fixed.FileSubtype, fixed.FileDateMS, fixed.FileDateLS))
        tables = [t for info in self.pe.FileInfo[0] for t in getattr(info, "StringTable", [])]
        self.assertEqual([b"040904E4"], [t.LangID for t in tables])
        entries = [(k.decode(), v.decode()) for k, v in tables[0].entries.items()]
        self.assertEqual([key for key, _ in STRINGS], [key for key, _ in entries])
        for (key, expected), (_, value) in zip(STRINGS, entries):
            with self.subTest(key=key):
                if expected is None:
                    self.assertTrue(value.strip())
                else:
                    self.assertEqual(expected, value)
        variables = [v.entry for info in self.pe.FileInfo[0] for v in getattr(info, "Var", [])]
        self.assertEqual([{b"Translation": "0x0409 0x04e4"}], variables)

    def test_icon(self):
        (_, group), = self.resources[(pefile.RESOURCE_TYPE["RT_GROUP_ICON"], 10000)]
        self.assertEqual((0, 1, 1), struct.unpack_from("<HHH", group))
        self.assertEqual((16, 16, 0, 0, 1, 4, 296, 1), struct.unpack_from("<BBBBHHIH", group, 6))
        (_, image), = self.resources[(pefile.RESOURCE_TYPE["RT_ICON"], 1)]
        self.assertEqual(296, len(image))
        size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", image)
        self.assertEqual((40, 16, 32, 1, 4, 0), (size, width, height, planes, bits, compression))
        mask = image[40 + 64 + 128:]
        self.assertNotEqual(b"\0" * 64, mask, "the icon is transparent outside its shape")

    def test_manifests(self):
        # The process manifest (1) binds every launch; the common controls (2)
        # are bound only on the dialog and message roads.
        (_, process), = self.resources[(pefile.RESOURCE_TYPE["RT_MANIFEST"], 1)]
        (_, controls), = self.resources[(pefile.RESOURCE_TYPE["RT_MANIFEST"], 2)]
        # Windows 10 and 11 alone: the only supportedOS the manifest names.
        self.assertEqual(["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"],
                         re.findall(r'<supportedOS Id="([^"]+)"', process.decode("utf-8")))
        table = [(process, ['level="asInvoker"', "PerMonitorV2", "true/pm"]),
                 (controls, ["Microsoft.Windows.Common-Controls", 'version="6.0.0.0"'])]
        for manifest, needles in table:
            for needle in needles:
                with self.subTest(needle=needle):
                    self.assertIn(needle, manifest.decode("utf-8"))
        self.assertNotIn("<dependency>", process.decode("utf-8"))


def package(build, environment=None):
    """Runs the package step of a configured build, in the environment given
    (the process's own by default); CPack's run."""
    return subprocess.run(["cpack", "--config", build / "CPackConfig.cmake", "-B", build / "cpack"],
                          env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def published(build):
    """The program and every file the package step published: {name: bytes}."""
    files = {path.relative_to(build / "package").as_posix(): path.read_bytes()
             for path in (build / "package").rglob("*") if path.is_file()}
    files["kelvane.exe"] = (build / "kelvane.exe").read_bytes()
    return files


def build_copy(root, *options, environment=None):
    """The program and every published release file, built from a copy of the
    source in root, packaged in the environment given: {name: bytes}."""
    source = root / "source"
    for part in ("CMakeLists.txt", "README.md", "LICENSE", "bench", "cmake", "docs",
                 "integration", "launcher", "packaging", "resources"):
        copy = shutil.copytree if (SOURCE / part).is_dir() else shutil.copyfile
        source.mkdir(parents=True, exist_ok=True)
        copy(SOURCE / part, source / part)
    build = root / "build"
    subprocess.run(["cmake", "-S", source, "-B", build, "-DBUILD_TESTING=OFF",
                    "-DCMAKE_BUILD_TYPE=MinSizeRel",
                    f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/mingw-w64-i686.cmake", *options],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build], check=True, stdout=subprocess.DEVNULL)
    run = package(build, environment)
    if run.returncode != 0:
        raise AssertionError(f"the package step failed:\n{run.stdout}")
    return published(build)


class Reproducible(unittest.TestCase):
    build_copy = staticmethod(build_copy)

    def test_two_clean_builds_are_identical(self):
        with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
            (Path(second) / "elsewhere").mkdir()
            one = self.build_copy(Path(first))
            other = self.build_copy(Path(second) / "elsewhere")
        # Only what is published: CPack's working tree stays in its own folder.
        self.assertEqual(["SHA256SUMS", f"kelvane-{VERSION}-setup.exe", f"kelvane-{VERSION}-win32.zip", "kelvane.exe",
                          "scoop/kelvane.json", "winget/Tamrik.Kelvane.installer.yaml",
                          "winget/Tamrik.Kelvane.locale.en-US.yaml", "winget/Tamrik.Kelvane.yaml"],
                         sorted(one))
        for name in one:
            with self.subTest(name=name):
                self.assertEqual(hashlib.sha256(one[name]).hexdigest(), hashlib.sha256(other[name]).hexdigest())

    def test_version_and_addresses_come_from_one_place(self):
        other = f"{int(VERSION.split('.')[0]) + 1}.3.1"
        with tempfile.TemporaryDirectory() as root:
            files = self.build_copy(Path(root), f"-DKELVANE_VERSION={other}",
                                    "-DKELVANE_HOMEPAGE=https://example.org/kelvane//")
        self.assertIn(f"kelvane-{other}-setup.exe", files)
        self.assertIn(f"kelvane-{other}-win32.zip", files)
        pe = pefile.PE(data=files["kelvane.exe"])
        fixed = pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(binary_version(other) * 2,
                         (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS))
        strings = {k.decode(): v.decode() for info in pe.FileInfo[0] for t in getattr(info, "StringTable", [])
                   for k, v in t.entries.items()}
        self.assertEqual((other, other), (strings["FileVersion"], strings["ProductVersion"]))
        for manifest_id in (1, 2):
            (_, manifest), = resources(pe)[(pefile.RESOURCE_TYPE["RT_MANIFEST"], manifest_id)]
            self.assertIn(f'version="{other}.0"', manifest.decode("utf-8"))
        for name in ("scoop/kelvane.json", "winget/Tamrik.Kelvane.installer.yaml",
                     "winget/Tamrik.Kelvane.locale.en-US.yaml"):
            with self.subTest(name=name):
                text = files[name].decode("utf-8")
                self.assertIn(other, text)
                self.assertNotIn(VERSION, text)
                self.assertNotRegex(text, r"[^:]//")
                self.assertIn("https://example.org/kelvane/", text)

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
