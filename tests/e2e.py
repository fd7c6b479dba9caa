"""kelvane.exe end to end under Wine, driven as a user drives it.

Each run starts kelvane.exe through the probe helper (as the desktop starts it)
and reads what a user would see: the dialog or message, the exit code, and what
the interpreter was started with (the recording stand-in) or its console screen
(the real interpreter). Run by ctest inside the shared Wine session.
"""
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from pathlib import Path, PureWindowsPath

import wine_session

BUILD = Path(os.environ["KELVANE_BUILD"])
VERSION = os.environ["KELVANE_VERSION"]
SETUP = f"kelvane-{VERSION}-setup.exe"
ZIP = f"kelvane-{VERSION}-win32"
PROJECT = Path(__file__).resolve().parent.parent
SESSION = wine_session.session_dir(BUILD)
PACKAGES = BUILD / "test-package"  # the package workflow's output, made by the package fixture
DRIVE_C = SESSION / "prefix" / "drive_c"
ROOT = DRIVE_C / "kt"          # C:\kt: every file the tests make
RECORD = ROOT / "record.txt"   # what the stand-in interpreter writes
# The message, themed (common controls 6).
MESSAGE = {"dialog": ["Kelvane by Tamrik"], "static": ["It is not a folder"],
           "button": ["OK"], "pressed": ["OK"], "exit": ["0"], "controls": ["6"]}
# On this 64-bit prefix the native interpreter: the 64-bit stand-in in System32.
SYSTEM_CMD = r"c:\windows\system32\cmd.exe"
NETWORK_COMMAND = 'cmd.exe /E:ON /K pushd "%KELVANE_FOLDER%" & set KELVANE_FOLDER='


def env(real_interpreter, prefix=None):
    display = json.loads((SESSION / "session.json").read_text())["display"]
    result = wine_session.wine_env(SESSION, display)
    if prefix is not None:
        result["WINEPREFIX"] = str(prefix)
    result["WINEDLLOVERRIDES"] += ";cmd.exe=" + ("b" if real_interpreter else "n")
    result["KELVANE_TEST_RECORD"] = r"C:\kt\record.txt"
    return result


def probe(*args, real=False, cwd=None, prefix=None, trace=False, overrides=""):
    """What the probe reports, {key: [values]}; with trace, also the libraries
    each process loaded, as Wine's loader reports them ("loaded": {process:
    {dll}}), and the parameters each process asked the shell to start a program
    elevated with ("runas": {process: [parameters]})."""
    environment = env(real, prefix)
    environment["WINEDLLOVERRIDES"] += overrides
    if trace:
        environment["WINEDEBUG"] = "+pid,+loaddll,trace+exec"
    # The trace goes to a file: a console the probe leaves open would hold a
    # pipe open, and the run would wait for it.
    with tempfile.TemporaryFile() as errors:
        run = subprocess.run(["wine", str(BUILD / "tests" / "probe.exe"), *args], env=environment,
                             cwd=cwd or ROOT, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=errors if trace else subprocess.DEVNULL, timeout=90)
        errors.seek(0)
        trace_lines = errors.read().decode("utf-8", "replace").splitlines()
    seen = {}
    for line in run.stdout.decode("utf-8").splitlines():
        key, _, value = line.partition("=")
        seen.setdefault(key, []).append(value)
    if trace:
        loaded = {}
        runas = {}
        for line in trace_lines:
            process, _, rest = line.partition(":")
            if ":trace:loaddll:" in rest and " Loaded " in rest:
                dll = rest.split('L"', 1)[1].split('"', 1)[0].rsplit("\\", 1)[-1].lower()
                loaded.setdefault(process, set()).add(dll)
            if ":trace:exec:SHELL_execute mask=" in rest and ' verb=L"runas" ' in rest:
                parameters = rest.split(' parm=L"', 1)[1].rsplit('" dir=', 1)[0]
                runas.setdefault(process, []).append(parameters.replace('\\"', '"').replace("\\\\", "\\"))
        seen["loaded"] = loaded
        seen["runas"] = runas
    return seen


def kelvane(arguments, press=(), screen=None, exe=None, cwd=None, prefix=None, select=None,
            line=None, directory=None, select_path=None, timeout=20000, trace=False, overrides=""):
    """Runs kelvane.exe with the given command-line tail (or the whole command
    line); returns what the probe saw and, for the stand-in, what the
    interpreter recorded."""
    record = RECORD if prefix is None else prefix / "drive_c" / "kt" / "record.txt"
    record.unlink(missing_ok=True)
    exe = exe or str(BUILD / "kelvane.exe")
    if line is None:
        line = f'"{exe}" {arguments}' if arguments else f'"{exe}"'
    options = [o for p in press for o in ("--press", p)]
    if select is not None:
        options += ["--select", str(select)]
    if select_path is not None:
        options += ["--select-path", select_path]
    if directory is not None:
        options += ["--directory", directory]
    if screen is not None:
        options += ["--screen", screen]
    seen = probe("run", *options, "--timeout", str(timeout), line, real=screen is not None, cwd=cwd,
                 prefix=prefix, trace=trace, overrides=overrides)
    # A second kelvane (the administrator's road) starts the interpreter after
    # the probe has seen the first one end: its record comes a moment later.
    deadline = time.time() + 20
    while "kelvane.exe" in seen.get("child", []) and time.time() < deadline and not (
            record.exists() and "\nmoment=" in record.read_text("utf-8")):
        time.sleep(0.1)
    records = record.read_text("utf-8").split("image=")[1:] if record.exists() else []
    started = [dict(item.split("=", 1) for item in ("image=" + r).strip().split("\n"))
               for r in records]
    return seen, started


def serve_share():
    """Has Wine serve C:\\kt\\shared as \\\\host\\share; returns the folder."""
    shared = ROOT / "shared"
    shared.mkdir(exist_ok=True)
    unc = SESSION / "prefix" / "dosdevices" / "unc" / "host"
    unc.mkdir(parents=True, exist_ok=True)
    if not (unc / "share").is_symlink():
        (unc / "share").symlink_to(shared)
    return shared


def write_link(path, target):
    """A shell link that names target in its LinkInfo alone, as MS-SHLLINK lays
    it out: the link reader returns that path as it stands, however long."""
    base = target.encode("cp1252") + b"\0"
    volume = struct.pack("<IIII", 17, 3, 0, 16) + b"\0"  # a fixed drive, no label
    body = volume + base + b"\0"  # and an empty common path suffix
    info = struct.pack("<7I", 0x1C + len(body), 0x1C, 1, 0x1C, 0x1C + len(volume), 0,
                       0x1C + len(volume) + len(base)) + body
    clsid = bytes.fromhex("0114020000000000c000000000000046")
    header = struct.pack("<I16sII24x3I2H2I", 0x4C, clsid, 2, 0x10, 0, 0, 1, 0, 0, 0, 0)
    path.write_bytes(header + info + struct.pack("<I", 0))


def folder(*parts):
    path = ROOT.joinpath(*parts)
    path.mkdir(parents=True, exist_ok=True)
    return "C:\\kt\\" + "\\".join(parts)


def setUpModule():
    shutil.rmtree(ROOT, ignore_errors=True)
    ROOT.mkdir(parents=True)


class Case(unittest.TestCase):
    def assertMessage(self, seen):
        self.assertEqual(MESSAGE, {k: v for k, v in seen.items()
                                   if k not in ("child", "process", "loaded", "runas")})
        self.assertNotIn("child", seen)

    def assertSystemInterpreter(self, started):
        self.assertEqual(1, len(started), started)
        self.assertEqual((SYSTEM_CMD, "64"), (started[0]["image"].lower(), started[0]["bits"]))

    def assertStarted(self, started, command):
        self.assertSystemInterpreter(started)
        self.assertEqual(command, started[0]["cmdline"])

    def assertPrompt(self, seen):
        self.assertEqual(["yes"], seen["screen-found"], seen.get("screen"))
        self.assertNotIn("not found", "\n".join(seen["screen"]).lower())

    def assertShortFor(self, path, record):
        """The interpreter stands in path, which it was handed as its short
        path: one it can hold, whose long form is path."""
        self.assertIn("~", record["cwd"])
        self.assertLessEqual(len(record["cwd"]), 258)
        self.assertEqual(path, record["long-cwd"])


class FolderRoad(Case):
    def test_folder_arguments(self):
        names = ["plain", "a b & c", "ü é 漢字 \U0001F600", "semi;colon (x) ^caret"]
        for name in names:
            with self.subTest(name=name):
                path = folder(name)
                seen, started = kelvane(f'"{path}"')
                self.assertEqual(["0"], seen["exit"])
                self.assertNotIn("dialog", seen)
                self.assertStarted(started, f'cmd.exe /K C: && cd "{path[2:]}"')

    def test_drive_forms_and_extra_arguments(self):
        # The command line carries the full path, never the spelling: a doubled
        # separator would be read as a network path, an empty cd as no name.
        # Drive-relative names are taken from C:\kt, kelvane's current folder.
        table = [
            ("C:\\", 'cmd.exe /K C: && cd "\\"'),
            ("C:", 'cmd.exe /K C: && cd "\\kt"'),
            ("C:.", 'cmd.exe /K C: && cd "\\kt"'),
            ("C:\\\\", 'cmd.exe /K C: && cd "\\"'),
            (folder("doubled").replace(":", ":\\"), 'cmd.exe /K C: && cd "\\kt\\doubled"'),
            (f'{folder("first")} {folder("second")}', 'cmd.exe /K C: && cd "\\kt\\first"'),
            (f'"{folder("one two")}" C:\\nothing', 'cmd.exe /K C: && cd "\\kt\\one two"'),
            # A shell writes "C:\" and the platform's splitting hands over C:"
            ('"C:\\"', 'cmd.exe /K C: && cd "\\"'),
            (f'"{folder("my dir")}\\"', 'cmd.exe /K C: && cd "\\kt\\my dir"'),
        ]
        for arguments, command in table:
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments)
                self.assertEqual(["0"], seen["exit"])
                self.assertStarted(started, command)

    def test_relative_and_device_spellings(self):
        # Every spelling reaches the command line as the full path it names.
        folder("rel", "a&calc")
        folder("rel", "dir")
        table = [
            (f'"\\\\?\\{folder("long form")}"', None, "\\kt\\long form"),
            ('"a&calc"', ROOT / "rel", "\\kt\\rel\\a&calc"),
            ("dir", ROOT / "rel", "\\kt\\rel\\dir"),
            (".", ROOT / "rel", "\\kt\\rel"),
            ("..", ROOT / "rel" / "dir", "\\kt\\rel"),
            ("dir/", ROOT / "rel", "\\kt\\rel\\dir"),
        ]
        for arguments, cwd, path in table:
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments, cwd=cwd)
                self.assertEqual(["0"], seen["exit"])
                self.assertStarted(started, f'cmd.exe /K C: && cd "{path}"')

    def test_folders_kept_off_the_command_line(self):
        # A name the interpreter would expand opens with the folder as the
        # interpreter's starting directory.
        table = ["%OS%x", "%USERPROFILE%", "semi;colon (x) ^caret !bang"]
        for name in table:
            with self.subTest(name=name):
                seen, started = kelvane(f'"{folder(name)}"')
                self.assertEqual(["0"], seen["exit"])
                self.assertStarted(started, "cmd.exe /K")
                self.assertEqual("C:\\kt\\" + name, started[0]["cwd"])

    def test_planted_interpreter_never_runs(self):
        planted = ROOT / "downloads"
        planted.mkdir(exist_ok=True)
        shutil.copyfile(BUILD / "kelvane.exe", planted / "kelvane.exe")
        shutil.copyfile(BUILD / "tests" / "record_interpreter.exe", planted / "cmd.exe")
        target = folder("downloads", "project")
        for arguments in (f'"{target}"', "project"):
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments, exe="C:\\kt\\downloads\\kelvane.exe",
                                        cwd=planted)
                self.assertEqual(["0"], seen["exit"])
                self.assertSystemInterpreter(started)


class LoadedLibraries(Case):
    """A launch from a folder loads the kernel and the C runtime, never a
    library for windows or for network drives; only the road that needs one
    loads it."""

    WINDOWS = {"user32.dll", "shell32.dll", "ole32.dll", "comctl32.dll", "mpr.dll"}

    def test_folder_road_loads_no_window_library(self):
        table = [f'"{folder("loads")}"', f'"{folder("loads")}\\"', "loads"]
        for arguments in table:
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments, trace=True)
                self.assertStarted(started, 'cmd.exe /K C: && cd "\\kt\\loads"')
                loaded = seen["loaded"][seen["process"][0]]
                self.assertIn("msvcrt.dll", loaded)
                self.assertEqual(set(), loaded & self.WINDOWS)

    def test_message_road_loads_user32(self):
        seen, started = kelvane("C:\\kt\\nothing-here", trace=True)
        self.assertMessage(seen)
        self.assertIn("user32.dll", seen["loaded"][seen["process"][0]])

    def test_no_library_planted_beside_kelvane_loads(self):
        # A library that system code loads by name (theming, for one) is
        # looked for in the system folder only, whichever road, even where the
        # loader is told to prefer a copy of its own (Wine's "native" order).
        planted = ROOT / "planted"
        planted.mkdir(exist_ok=True)
        shutil.copyfile(BUILD / "kelvane.exe", planted / "kelvane.exe")
        shutil.copyfile(BUILD / "tests" / "uxtheme.dll", planted / "uxtheme.dll")
        ShortcutRoad.link(self, "planted.lnk", folder("planted target"))
        table = [("C:\\kt\\nothing-here", ()), ("", ("Cancel",)), ("C:\\kt\\planted.lnk", ()),
                 (f'/admin "{folder("planted target")}"', ())]
        for arguments, press in table:
            with self.subTest(arguments=arguments):
                seen, _ = kelvane(arguments, press=press, exe="C:\\kt\\planted\\kelvane.exe", cwd=planted,
                                  overrides=";uxtheme=n,b")
                self.assertEqual(["0"], seen["exit"])
                self.assertFalse((planted / "loaded.txt").exists())

    def test_lines_split_otherwise_take_the_platforms_argument(self):
        # The runtime would read no argument, or one no folder has; the
        # platform's splitter gives the folder, and kelvane takes it.
        exe = str(BUILD / "kelvane.exe")
        folder("split")
        table = [f'"{exe}"C:\\kt\\split', f'"{exe}" "C:\\kt\\split"" x"']
        for line in table:
            with self.subTest(line=line[-20:]):
                seen, started = kelvane(None, line=line, trace=True)
                self.assertStarted(started, 'cmd.exe /K C: && cd "\\kt\\split"')
                self.assertIn("shell32.dll", seen["loaded"][seen["process"][0]])


class ShortcutRoad(Case):
    def link(self, name, target):
        self.assertEqual({}, probe("link", "C:\\kt\\" + name, target))
        return "C:\\kt\\" + name

    def test_link_to_folder_gives_long_form(self):
        target = folder("Long Folder Name With Blanks")
        seen, started = kelvane(self.link("folder.lnk", target))
        self.assertEqual(["0"], seen["exit"])
        self.assertStarted(started, 'cmd.exe /K C: && cd "\\kt\\Long Folder Name With Blanks"')

    def test_links_that_lead_to_no_folder(self):
        (ROOT / "note.txt").write_text("not a link")
        gone = folder("gone")
        links = {"file": self.link("file.lnk", "C:\\kt\\note.txt"),
                 "deleted target": self.link("gone.lnk", gone)}
        (ROOT / "gone").rmdir()
        (ROOT / "bytes.lnk").write_bytes(bytes(range(256)))
        links["plain text file"] = "C:\\kt\\note.txt"
        links["random bytes named .lnk"] = "C:\\kt\\bytes.lnk"
        for case, path in links.items():
            with self.subTest(case=case):
                seen, started = kelvane(path)
                self.assertMessage(seen)
                self.assertEqual([], started)


class HostileShortcuts(Case):
    link = ShortcutRoad.link

    def test_files_that_are_no_links(self):
        valid = ROOT / "valid.lnk"
        self.link("valid.lnk", folder("valid target"))
        data = valid.read_bytes()
        files = {"truncated.lnk": data[: len(data) // 2], "empty.lnk": b"", "zero-byte": b"",
                 "text.lnk": b"[InternetShortcut]\r\nURL=file:///C:/\r\n"}
        for name, content in files.items():
            (ROOT / name).write_bytes(content)
        os.makedirs(ROOT.joinpath("deep", *["d" * 200] * 4), exist_ok=True)
        cases = [f"C:\\kt\\{name}" for name in files]
        cases += [self.link("pc.lnk", "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"),
                  self.link("long.lnk", "C:\\kt\\deep\\" + "\\".join(["d" * 200] * 4)),
                  "Z:" + str(BUILD / "tests" / "probe.exe").replace("/", "\\")]
        for case in cases:
            with self.subTest(case=case[:40]):
                seen, started = kelvane(f'"{case}"')
                self.assertMessage(seen)
                self.assertEqual([], started)

    def test_folder_named_like_a_link_is_a_folder(self):
        seen, started = kelvane(folder("x.lnk"))
        self.assertEqual(["0"], seen["exit"])
        self.assertStarted(started, 'cmd.exe /K C: && cd "\\kt\\x.lnk"')

    def test_mutated_links_end_in_one_of_two_outcomes(self):
        # Bytes of a valid link flipped one at a time, each file run to its end.
        target = folder("mutation target")
        self.link("seed.lnk", target)
        seed = (ROOT / "seed.lnk").read_bytes()
        step = max(1, len(seed) // 240)
        for offset in range(0, len(seed), step):
            mutated = bytearray(seed)
            mutated[offset] ^= 0xFF if offset % 2 else 0x01
            (ROOT / "m.lnk").write_bytes(bytes(mutated))
            with self.subTest(offset=offset):
                seen, started = kelvane("C:\\kt\\m.lnk")
                self.assertEqual(["0"], seen["exit"])
                if started:
                    self.assertStarted(started, f'cmd.exe /K C: && cd "{target[2:]}"')
                    self.assertNotIn("dialog", seen)
                else:
                    self.assertMessage(seen)


class PickerRoad(Case):
    def test_dialog_and_ok_on_initial_selection(self):
        seen, started = kelvane("", press=["OK"])
        self.assertEqual(["Browse for Folder"], seen["dialog"])
        self.assertEqual(["6"], seen["controls"])
        self.assertEqual(["Select the target folder:"], seen["static"][:1])
        self.assertEqual(["OK", "Cancel"], seen["button"])
        self.assertEqual(["0"], seen["exit"])
        self.assertEqual(1, len(started), started)
        self.assertRegex(started[0]["cmdline"], r'^cmd\.exe /K C: && cd "\\users\\[^"]+\\Desktop"$')

    def test_entry_without_a_file_system_path(self):
        # Below the desktop: "/", Documents, My Computer, Trash.
        seen, started = kelvane("", select=2, press=["OK"])
        self.assertEqual(["yes"], seen["selected"])
        self.assertEqual(["Browse for Folder", "Kelvane by Tamrik"], seen["dialog"])
        self.assertEqual("It is not a folder", seen["static"][-1])
        self.assertEqual(["0"], seen["exit"])
        self.assertEqual([], started)

    def test_cancel_shows_the_message(self):
        seen, started = kelvane("", press=["Cancel"])
        self.assertEqual(["Browse for Folder", "Kelvane by Tamrik"], seen["dialog"])
        self.assertEqual(["6", "6"], seen["controls"])
        self.assertEqual(["Cancel", "OK"], seen["pressed"])
        self.assertEqual("It is not a folder", seen["static"][-1])
        self.assertEqual(["0"], seen["exit"])
        self.assertEqual([], started)


class FailureRoads(Case):
    def test_every_failure_shows_the_one_message(self):
        deep = ROOT / "deep"
        parts = ["d" * 200] * 5
        os.makedirs(deep.joinpath(*parts), exist_ok=True)
        os.makedirs(deep / "\\".join(parts)[:1000 - 15].replace("\\", "/"), exist_ok=True)
        too_long = "\\\\?\\C:\\kt\\deep\\" + "\\".join(parts)
        table = {
            "nothing there": "C:\\kt\\nothing-here",
            "folder of 1000 units": "\\\\?\\C:\\kt\\deep\\" + "\\".join(parts)[: 1000 - 15],
            "32 000 units": "C:\\" + "x" * 32000,
            "empty argument": '""',
            "missing drive": "Q:\\nowhere",
            "folder longer than 999 units": too_long,
        }
        for case, arguments in table.items():
            with self.subTest(case=case):
                seen, started = kelvane(arguments)
                self.assertMessage(seen)
                self.assertEqual([], started)


class FolderItself(Case):
    """Every road decides on the folder the interpreter will stand in: its full
    path, as the native interpreter sees the file system."""


    def test_native_system_folder(self):
        # This 32-bit program sees syswow64 as System32; the native interpreter
        # sees system32. Each folder exists in one of them only.
        windows = DRIVE_C / "windows"
        (windows / "system32" / "kt-native").mkdir(exist_ok=True)
        (windows / "syswow64" / "kt-wow").mkdir(exist_ok=True)
        native = r"C:\windows\system32\kt-native"
        link = ShortcutRoad.link(self, "native.lnk", native)
        # A link file that only the native system folder holds.
        shutil.copyfile(ROOT / "native.lnk", windows / "system32" / "kt-native.lnk")
        table = [
            (f'"{native}"', None, native + ">"),
            (f'"{native}\\"', None, native + ">"),
            ("kt-native", r"C:\windows\system32", native + ">"),
            (r"C:\windows\Sysnative\kt-native", None, native + ">"),
            (link, None, native + ">"),
            (r"C:\windows\system32\kt-native.lnk", None, native + ">"),
        ]
        for arguments, directory, prompt in table:
            with self.subTest(arguments=arguments):
                seen, _ = kelvane(arguments, screen=prompt, directory=directory)
                self.assertPrompt(seen)
        for arguments in (r"C:\windows\system32\kt-wow", r"C:\windows\Sysnative\kt-wow"):
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments)
                self.assertMessage(seen)
                self.assertEqual([], started)

    def test_network_folder_in_every_spelling(self):
        # '%' stays out of the names, as Wine's interpreter expands a variable's
        # value twice.
        (serve_share() / "net dir" / "sub").mkdir(parents=True, exist_ok=True)
        net = r"\\host\share\net dir"
        table = [
            (f'"{net}"', None),
            (f'"{net}\\"', None),
            ('"//host/share/net dir"', None),
            (r'"\/host\share\net dir"', None),
            (r'"\\.\UNC\host\share\net dir"', None),
            (r'"\\?\UNC\host\share\net dir"', None),
            (".", net),
            ("..", net + r"\sub"),
            ('"net dir"', r"\\host\share"),
        ]
        for arguments, directory in table:
            with self.subTest(arguments=arguments, directory=directory):
                seen, started = kelvane(arguments, directory=directory)
                self.assertEqual(["0"], seen["exit"])
                self.assertStarted(started, NETWORK_COMMAND)
                self.assertEqual(net, started[0]["folder"])
                seen, _ = kelvane(arguments, directory=directory, screen=net + ">")
                self.assertPrompt(seen)

    def test_started_in_a_local_folder_titled_as_a_command_prompt(self):
        # Started as Explorer starts a verb's command in a network folder, the
        # interpreter starts in the Windows folder, not in the network folder
        # it would refuse, and takes a Command Prompt's title (and with it its
        # settings): the native interpreter's System32 path, not the Sysnative
        # one it is started by.
        (serve_share() / "net dir").mkdir(parents=True, exist_ok=True)
        net = r"\\host\share\net dir"
        table = [(".", NETWORK_COMMAND), (f'"{folder("local")}"', 'cmd.exe /K C: && cd "\\kt\\local"')]
        for arguments, command in table:
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments, directory=net)
                self.assertStarted(started, command)
                self.assertEqual((r"C:\windows", r"C:\windows\System32\cmd.exe"),
                                 (started[0]["cwd"], started[0]["title"]))

    def test_names_the_interpreter_cannot_enter(self):
        # Each extended-length name has a plain twin that a wrong road would open.
        special = ROOT / "special"
        for name in ("dot.", "dot", "blank ", "blank", "NUL"):
            (special / name).mkdir(parents=True, exist_ok=True)
        for arguments in (r'"\\?\C:\kt\special\dot."', r'"\\?\C:\kt\special\blank "',
                          r'"\\?\C:\kt\special\NUL"'):
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments)
                self.assertMessage(seen)
                self.assertEqual([], started)

    def test_devices_end_in_the_message_at_once(self):
        # Reading a device would block for ever; the bound leaves room for
        # emulated i386 code, where a launch takes a few seconds.
        for arguments in ("COM1", "AUX", "CON", r"C:\kt\aux", r"C:\kt\com1.lnk", r"\\.\COM1",
                          r"\\?\C:\kt\aux"):
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments, timeout=15000)
                self.assertMessage(seen)
                self.assertEqual([], started)

    def test_258_units_with_a_trailing_backslash(self):
        path = "C:\\kt\\deep\\" + "f" * 247
        (ROOT / "deep" / ("f" * 247)).mkdir(parents=True, exist_ok=True)
        for arguments in (f"{path}\\", f'"{path}\\"'):
            with self.subTest(arguments=arguments[-4:]):
                seen, _ = kelvane(arguments, screen=path + ">")
                self.assertPrompt(seen)

    def test_depth_picked_in_the_dialog(self):
        # The dialog's pick is read at any length; the interpreter holds 258
        # units, and a longer folder by its short path. (Wine's dialog selects
        # no folder of MAX_PATH units or more: the checklist has that pick.)
        base = "C:\\kt\\deep\\"
        for units in (258, 259):
            name = "g" * (units - len(base))
            (ROOT / "deep" / name).mkdir(parents=True, exist_ok=True)
            with self.subTest(units=units):
                seen, started = kelvane("", select_path=base + name, press=["OK"])
                self.assertEqual(["yes"], seen["selected"])
                self.assertEqual(["0"], seen["exit"])
                if units == 258:
                    self.assertStarted(started, f'cmd.exe /K C: && cd "\\kt\\deep\\{name}"')
                else:
                    self.assertStarted(started, "cmd.exe /K")
                    self.assertShortFor(base + name, started[0])


class HandedOver(Case):
    """The interpreter is handed the folder that was decided on, in a form it
    reads back the same: the long path where it can hold it, else the short
    path as its starting directory; a link's whole target; names read
    literally whatever the interpreter's own settings."""

    def test_long_folders_open_by_their_short_path(self):
        base = "C:\\kt\\deep\\" + "d" * 240
        fits, long = base + "\\" + "e" * 6, base + "\\" + "e" * 17  # 258 and 269 units
        deeper = "C:\\kt\\deep\\" + "\\".join(["f" * 200] * 5)[:984]  # 995 units
        for path in (fits, long, deeper):
            os.makedirs(DRIVE_C / path[3:].replace("\\", "/"), exist_ok=True)
        seen, started = kelvane(f'"{long}"')
        self.assertStarted(started, "cmd.exe /K")
        self.assertShortFor(long, started[0])
        short = started[0]["cwd"]
        table = [
            (f'"{short}"', None),
            ("e" * 17, base),
            (short.rsplit("\\", 1)[1], short.rsplit("\\", 1)[0]),
            (f'"\\\\?\\{long}"', None),
            (f'"{long}\\"', None),
        ]
        for arguments, directory in table:
            with self.subTest(arguments=arguments[-30:], directory=directory):
                seen, started = kelvane(arguments, directory=directory)
                self.assertEqual(["0"], seen["exit"])
                self.assertStarted(started, "cmd.exe /K")
                self.assertEqual(short, started[0]["cwd"])
                self.assertEqual(long, started[0]["long-cwd"])
        with self.subTest(depth=len(deeper)):
            seen, started = kelvane(f'"\\\\?\\{deeper}"')
            self.assertStarted(started, "cmd.exe /K")
            self.assertShortFor(deeper, started[0])
        # A short spelling of a folder that fits goes on the command line long.
        fits_short = fits.replace("d" * 240, short.split("\\")[3])
        seen, started = kelvane(f'"{fits_short}"')
        self.assertStarted(started, f'cmd.exe /K C: && cd "{fits[2:]}"')
        seen, _ = kelvane(f'"{long}"', screen=short + ">")
        self.assertPrompt(seen)
        # Windows' link reader gives at most MAX_PATH - 1 units and cuts a
        # longer target to them: a target of that length may be cut, and is no
        # folder. (Wine's reader gives this one whole; Windows' gives its
        # short path, which opens.)
        write_link(ROOT / "long.lnk", long)
        seen, started = kelvane(r"C:\kt\long.lnk")
        self.assertMessage(seen)
        self.assertEqual([], started)

    def test_links_hand_over_their_whole_target(self):
        windows = DRIVE_C / "windows"
        (windows / "system32" / "kt-native").mkdir(exist_ok=True)
        write_link(ROOT / "sysnative.lnk", r"C:\windows\Sysnative\kt-native")
        seen, _ = kelvane(r"C:\kt\sysnative.lnk", screen=r"C:\windows\system32\kt-native>")
        self.assertPrompt(seen)

        # The reader fills its buffer with the first 1000 units of a longer
        # target, and here they name a folder: the target's parent.
        parent = "C:\\kt\\cut\\" + "\\".join(["c" * 200] * 5)[:1000 - 11]
        os.makedirs(DRIVE_C / parent[3:].replace("\\", "/") / "sub", exist_ok=True)
        folder("rel", "rel-target")
        links = {"cut.lnk": parent + "\\sub", "gone.lnk": parent + "\\gone", "relative.lnk": "rel-target"}
        for name, target in links.items():
            write_link(ROOT / name, target)
            with self.subTest(link=name):
                seen, started = kelvane("C:\\kt\\" + name, cwd=ROOT / "rel")
                self.assertMessage(seen)
                self.assertEqual([], started)

    def test_network_names_read_literally(self):
        (serve_share() / "a!X!b").mkdir(exist_ok=True)
        (serve_share() / ("n" * 250)).mkdir(exist_ok=True)
        seen, started = kelvane(r'"\\host\share\a!X!b"')
        self.assertStarted(started, NETWORK_COMMAND.replace("/E:ON", "/E:ON /V:OFF"))
        self.assertEqual(r"\\host\share\a!X!b", started[0]["folder"])
        # No share, or more than pushd can hold: no folder.
        for arguments in (r"\\host", "\\\\host\\", "\\\\host\\share\\" + "n" * 250):
            with self.subTest(arguments=arguments[:20]):
                seen, started = kelvane(f'"{arguments}"')
                self.assertMessage(seen)
                self.assertEqual([], started)


class Elevation(Case):
    """kelvane /admin FOLDER decides on the folder in the user's session and has
    the shell start kelvane elevated with its full path (Wine shows no prompt:
    what kelvane asks for is read from the shell's trace); that second kelvane
    opens the console in exactly that folder."""

    def test_admin_hands_the_full_path_to_a_second_kelvane(self):
        (serve_share() / "adm net").mkdir(exist_ok=True)
        ShortcutRoad.link(self, "adm.lnk", folder("adm link target"))
        table = [
            (f'"{folder("adm plain")}"', '"C:\\kt\\adm plain"', 'cmd.exe /K C: && cd "\\kt\\adm plain"', None),
            ('"C:\\"', '"C:\\\\"', 'cmd.exe /K C: && cd "\\"', None),
            ('"adm plain"', '"C:\\kt\\adm plain"', 'cmd.exe /K C: && cd "\\kt\\adm plain"', None),
            (f'"{folder("adm %OS% !x!")}"', '"C:\\kt\\adm %OS% !x!"', "cmd.exe /K", "C:\\kt\\adm %OS% !x!"),
            (r'"\\host\share\adm net"', r'"\\host\share\adm net"', NETWORK_COMMAND, None),
            (r"C:\kt\adm.lnk", '"C:\\kt\\adm link target"', 'cmd.exe /K C: && cd "\\kt\\adm link target"', None),
        ]
        for folder_argument, parameters, command, directory in table:
            for switch in ("/admin", "/ADMIN"):
                with self.subTest(folder=folder_argument, switch=switch):
                    seen, started = kelvane(f"{switch} {folder_argument}", trace=True)
                    self.assertEqual(["0"], seen["exit"])
                    self.assertEqual(["kelvane.exe"], seen["child"])
                    self.assertEqual([parameters], seen["runas"][seen["process"][0]])
                    self.assertStarted(started, command)
                    if directory is not None:
                        self.assertEqual(directory, started[0]["cwd"])
                    if command == NETWORK_COMMAND:
                        self.assertEqual(r"\\host\share\adm net", started[0]["folder"])

    def test_what_is_not_the_admin_road(self):
        # /admin alone is a folder of that name in the drive's root (which Wine
        # reads as the Unix root, Z:\admin, where there is none); a folder
        # followed by /admin is that folder; no folder asks for nothing.
        (ROOT / "adm.txt").write_text("no folder")
        table = [("/admin", None), ("/Admin", None),
                 (f'"{folder("adm first")}" /admin', 'cmd.exe /K C: && cd "\\kt\\adm first"'),
                 ("/admin C:\\kt\\nothing-here", None),
                 ("/admin C:\\kt\\adm.txt", None)]
        for arguments, command in table:
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments, trace=True)
                self.assertEqual({}, seen["runas"])
                if command is None:
                    self.assertMessage(seen)
                    self.assertEqual([], started)
                else:
                    self.assertStarted(started, command)


class ExplorerIntegration(Case):
    """The registry files, imported as a user imports them, give Explorer a
    command that opens the console in the folder, the background's folder or
    the drive root; their removal files take the entries away again."""

    def regedit(self, name):
        path = PROJECT / "integration" / name
        subprocess.run(["wine", "regedit", "/S", f"Z:{path}".replace("/", "\\")], env=env(False),
                       timeout=120, check=True, **wine_session.quiet())

    def test_menu_entries_open_the_console_and_go_away(self):
        installed = next((DRIVE_C / "users").glob("*/AppData/Local"))
        (installed / "Programs" / "kelvane").mkdir(parents=True, exist_ok=True)
        shutil.copyfile(BUILD / "kelvane.exe", installed / "Programs" / "kelvane" / "kelvane.exe")
        exe = f"C:\\users\\{installed.parent.parent.name}\\AppData\\Local\\Programs\\kelvane\\kelvane.exe"
        table = [
            ("folders", "Directory", folder("from Explorer"), "C:\\kt\\from Explorer>"),
            ("folder-background", "Directory\\Background", folder("back & ground"),
             "C:\\kt\\back & ground>"),
            ("drives", "Drive", "C:\\", "C:\\>"),
        ]
        for name, class_name, path, prompt in table:
            with self.subTest(name=name):
                self.regedit(f"{name}.reg")
                verb = probe("verb", class_name, path)
                self.assertEqual(["Open conso&le here"], verb["text"])
                self.assertEqual([exe], verb["icon"])
                self.assertNotIn("shield", verb)
                self.assertEqual(["yes"], verb["no-working-directory"])
                self.assertEqual([f'"{exe}" "{path}"'], verb["command"])
                seen, started = kelvane(None, line=verb["command"][0])
                self.assertEqual(["0"], seen["exit"])
                self.assertStarted(started, f'cmd.exe /K C: && cd "{path[2:]}"')
                seen, _ = kelvane(None, line=verb["command"][0], screen=prompt)
                self.assertEqual(["yes"], seen["screen-found"], seen.get("screen"))

                admin = probe("verb", class_name, path, "kelvane-admin")
                self.assertEqual((["Open console &here as administrator"], [exe], ["yes"], ["yes"]),
                                 (admin["text"], admin["icon"], admin["shield"], admin["no-working-directory"]))
                self.assertEqual([f'"{exe}" /admin "{path}"'], admin["command"])
                parameters = [f'"{path}\\"' if path.endswith("\\") else f'"{path}"']
                seen, started = kelvane(None, line=admin["command"][0], trace=True)
                self.assertEqual(parameters, seen["runas"][seen["process"][0]])
                self.assertStarted(started, f'cmd.exe /K C: && cd "{path[2:]}"')
                self.regedit(f"{name}-remove.reg")
                self.assertEqual({"verb": ["missing"]}, probe("verb", class_name, path))
                self.assertEqual({"verb": ["missing"]}, probe("verb", class_name, path, "kelvane-admin"))


class ReleasePackage(Case):
    def test_unpacked_package_runs(self):
        sums = {name: digest for digest, name in
                (line.split("  ") for line in (PACKAGES / "SHA256SUMS").read_text().splitlines())}
        self.assertEqual([SETUP, f"{ZIP}.zip"], sorted(sums))
        for name, digest in sums.items():
            with self.subTest(name=name):
                self.assertEqual(hashlib.sha256((PACKAGES / name).read_bytes()).hexdigest(), digest)

        with zipfile.ZipFile(PACKAGES / f"{ZIP}.zip") as archive:
            archive.extractall(ROOT / "unpacked")
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
        integration = sorted(p.name for p in (PROJECT / "integration").iterdir())
        pictures = sorted(p.name for p in (PROJECT / "docs").glob("*.png"))
        self.assertEqual(sorted(f"{ZIP}/{name}" for name in
                                ["kelvane.exe", "README.md", "LICENSE", "resources/icon-preview.png",
                                 *(f"docs/{n}" for n in pictures),
                                 *(f"integration/{n}" for n in integration)]), names)
        unpacked = ROOT / "unpacked" / ZIP
        self.assertEqual((BUILD / "kelvane.exe").read_bytes(), (unpacked / "kelvane.exe").read_bytes())

        seen, started = kelvane(f'"{folder("from the package")}"',
                                exe=f"C:\\kt\\unpacked\\{ZIP}\\kelvane.exe")
        self.assertEqual(["0"], seen["exit"])
        self.assertStarted(started, 'cmd.exe /K C: && cd "\\kt\\from the package"')


def wine_reg(prefix, *arguments, check=True):
    """Runs Wine's reg.exe in prefix."""
    subprocess.run(["wine", "reg", *arguments], env=env(True, prefix), timeout=60, check=check,
                   **wine_session.quiet())


def read_registry(prefix, key):
    """{key: {value name: value as exported}} for key and everything below it."""
    export = prefix / "export.reg"
    wine_reg(prefix, "export", key, f"Z:{export}".replace("/", "\\"), "/y")
    text = export.read_bytes().decode("utf-16").replace("\\\r\n  ", "")
    registry = {}
    values = None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            values = registry.setdefault(line[1:-1], {})
        elif values is not None and "=" in line:
            name, _, value = line.partition("=")
            values[name.strip('"')] = value
    return registry


def link_target(path):
    """The local path a shell link names (MS-SHLLINK: the LinkInfo's base path)."""
    data = path.read_bytes()
    flags, = struct.unpack_from("<I", data, 0x14)
    at = 0x4C
    if flags & 1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if not flags & 2:  # HasLinkInfo
        return None
    base, = struct.unpack_from("<I", data, at + 16)
    return data[at + base:data.index(b"\0", at + base)].decode("cp1252")


class Installer(Case):
    """The per-user installer in a fresh prefix, run silently as winget runs it:
    what it adds, the verbs it registers run by the shell, its options and the
    choices it remembers, upgrades and removals while kelvane runs, and an
    uninstall that returns when it is done and leaves the prefix as it found it."""

    maxDiff = 4000
    UNINSTALL_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kelvane"

    @classmethod
    def setUpClass(cls):
        cls.prefix = SESSION / "install-prefix"
        shutil.rmtree(cls.prefix, ignore_errors=True)
        subprocess.run(["wineboot", "--init"], env=env(True, cls.prefix), timeout=300, check=True,
                       **wine_session.quiet())
        cls.drive = cls.prefix / "drive_c"
        (cls.drive / "kt").mkdir()
        shutil.copyfile(PACKAGES / SETUP, cls.drive / "kt" / "setup.exe")
        profile = next((cls.drive / "users").glob("*/AppData"))
        cls.user = "C:\\" + str(profile.parent.relative_to(cls.drive)).replace("/", "\\")
        cls.installed = profile / "Local" / "Programs" / "kelvane"
        cls.folder = cls.user + "\\AppData\\Local\\Programs\\kelvane"
        cls.exe = cls.folder + "\\kelvane.exe"
        cls.send_to = profile / "Roaming" / "Microsoft" / "Windows" / "SendTo" / "Open console in folder.lnk"
        cls.start_menu = (profile / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs" /
                          "kelvane.lnk")
        cls.pristine = cls.state()

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=env(True, cls.prefix), timeout=60, check=False)

    @classmethod
    def state(cls, machine=True):
        """Every file and folder of drive C:, and the user's and (unless told)
        the machine's software keys, but for those Wine keeps for itself: its
        own settings, and the network cards it records a while after it first
        starts."""
        files = {p.relative_to(cls.drive).as_posix() for p in cls.drive.rglob("*")}
        registry = read_registry(cls.prefix, "HKCU\\Software")
        if machine:
            registry.update(read_registry(cls.prefix, "HKLM\\Software"))
        wine_own = ("HKEY_CURRENT_USER\\Software\\Wine",
                    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards")
        registry = {key: values for key, values in registry.items() if not key.startswith(wine_own)}
        return files, registry

    def run_program(self, line, exit_code="0", press=()):
        options = [o for p in press for o in ("--press", p)]
        seen = probe("run", *options, "--timeout", "60000", line, prefix=self.prefix, real=True)
        self.assertEqual([exit_code], seen["exit"], seen)
        return seen

    def install(self, *switches, exit_code="0"):
        return self.run_program(" ".join(["C:\\kt\\setup.exe", "/S", *switches]), exit_code)

    def install_silently(self, *switches):
        """Runs setup silently as a package manager does; its exit code and
        the lines it printed. Wine quotes an argument with blanks, where
        /D= is taken only unquoted: such a line goes through the interpreter,
        which runs it as written (/s)."""
        line = ["C:\\kt\\setup.exe", "/S", *switches]
        if " " in "".join(switches):
            line = ["cmd", "/s", "/c", " ".join(line)]
        run = subprocess.run(["wine", *line], env=env(True, self.prefix), stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
        return run.returncode, run.stdout.decode("cp1252").splitlines()

    def host(self, folder):
        """Where a folder of drive C: is on this machine."""
        return self.drive / folder[3:].replace("\\", "/")

    def run_uninstaller(self, folder=None):
        """Runs the QuietUninstallString, as Apps & features and winget run it,
        and returns its exit code once it has ended."""
        folder = folder or self.folder
        exported = read_registry(self.prefix, self.UNINSTALL_KEY)[self.UNINSTALL_KEY]["QuietUninstallString"]
        command = exported[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        self.assertEqual(f'"{folder}\\uninstall.exe" /S _?={folder}', command)
        seen = probe("run", "--timeout", "60000", command, prefix=self.prefix, real=True)
        return int(seen["exit"][0])

    def wait_for_leftover(self, folder=None):
        """The uninstaller's own image, which it holds while it runs, is
        deleted a moment after it has ended, then the folders setup made."""
        installed = self.host(folder or self.folder)
        deadline = time.time() + 30
        while (installed / "uninstall.exe").exists() and time.time() < deadline:
            time.sleep(0.2)
        self.assertFalse((installed / "uninstall.exe").exists())

    def uninstall(self, folder=None, made=None):
        """Uninstalls silently and checks at once that kelvane is gone: the
        program, its shortcuts, its menu entries and its entry in Apps &
        features; then waits for the folders setup made to go (from made on:
        by default the per-user programs folder, "" for none)."""
        folder = folder or self.folder
        self.assertEqual(0, self.run_uninstaller(folder))
        self.assertEqual([], [p.name for p in self.host(folder).glob("*") if p.name != "uninstall.exe"])
        self.assertFalse(self.send_to.exists() or self.start_menu.exists())
        self.assertEqual({}, {k: v for k, v in read_registry(self.prefix, "HKCU\\Software").items()
                              if "kelvane" in k.lower() or "kelvane" in str(v).lower()})
        self.wait_for_leftover(folder)
        made = str(PureWindowsPath(self.folder).parent) if made is None else made
        deadline = time.time() + 10
        while made and self.host(made).exists() and time.time() < deadline:
            time.sleep(0.2)

    def assertAdded(self, files, registry):
        """The state holds exactly the pristine prefix's files and keys, and
        these files and keys (with the folders and keys they need)."""
        before_files, before_registry = self.pristine
        now_files, now_registry = self.state()

        def with_folders(names):
            return {"/".join(name.split("/")[:end]) for name in names
                    for end in range(1, name.count("/") + 2)}

        self.assertEqual(set(), before_files - now_files)
        self.assertEqual(set(), (now_files - before_files) - with_folders(files))
        self.assertEqual(set(), set(files) - now_files)
        keys = set(registry) | {key.rsplit("\\", depth)[0] for key in registry
                                for depth in range(1, key.count("\\"))}
        added = {key: values for key, values in now_registry.items() if key not in before_registry}
        self.assertEqual(before_registry, {k: now_registry.get(k) for k in before_registry})
        self.assertEqual(set(), set(added) - keys)
        for key, values in registry.items():
            with self.subTest(key=key):
                self.assertEqual(values, added.get(key))
        for key in set(added) - set(registry):
            self.assertEqual({}, added[key], key)

    def expected(self, send_to=True, start_menu=True, menu=True, folder=None, made=None):
        """The files and keys an install adds: in folder (by default the
        default one) that setup made from made on (by default the per-user
        programs folder; "" for a folder the user had)."""
        folder = folder or self.folder
        made = str(PureWindowsPath(self.folder).parent) if made is None else made
        installed = self.host(folder).relative_to(self.drive).as_posix()
        files = [f"{installed}/kelvane.exe", f"{installed}/LICENSE.txt", f"{installed}/uninstall.exe"]
        if send_to:
            files.append(self.send_to.relative_to(self.drive).as_posix())
        if start_menu:
            files.append(self.start_menu.relative_to(self.drive).as_posix())
        exe = (folder + "\\kelvane.exe").replace("\\", "\\\\")
        command = '"\\"' + exe + '\\" \\"%{}\\""'
        classes = "HKEY_CURRENT_USER\\Software\\Classes\\"
        registry = {}
        admin_command = '"\\"' + exe + '\\" /admin \\"%{}\\""'
        for class_name, item in (("Directory", "1"), ("Directory\\Background", "V"), ("Drive", "1")):
            if menu:
                verb = classes + class_name + "\\shell\\kelvane"
                registry[verb] = {"@": '"Open conso&le here"', "Icon": f'"{exe}"', "NoWorkingDirectory": '""'}
                registry[verb + "\\command"] = {"@": command.format(item)}
                registry[verb + "-admin"] = {"@": '"Open console &here as administrator"', "HasLUAShield": '""',
                                             "Icon": f'"{exe}"', "NoWorkingDirectory": '""'}
                registry[verb + "-admin\\command"] = {"@": admin_command.format(item)}
        size = sum((self.host(folder) / name).stat().st_size
                   for name in ("kelvane.exe", "LICENSE.txt", "uninstall.exe"))
        folder = folder.replace("\\", "\\\\")
        uninstaller = folder + "\\\\uninstall.exe"
        home = "https://github.com/tamrik/kelvane"
        registry[self.UNINSTALL_KEY] = {
            "DisplayName": '"kelvane"', "DisplayVersion": f'"{VERSION}"', "Publisher": '"Tamrik"',
            "DisplayIcon": f'"{exe}"', "InstallLocation": f'"{folder}"',
            "CreatedFolder": '"{}"'.format(made.replace("\\", "\\\\")),
            "URLInfoAbout": f'"{home}"', "HelpLink": f'"{home}/issues"',
            "URLUpdateInfo": f'"{home}/releases"',
            "UninstallString": f'"\\"{uninstaller}\\" _?={folder}"',
            "QuietUninstallString": f'"\\"{uninstaller}\\" /S _?={folder}"',
            "NoModify": "dword:00000001", "NoRepair": "dword:00000001",
            "ExplorerMenu": f"dword:0000000{int(menu)}", "SendTo": f"dword:0000000{int(send_to)}",
            "StartMenu": f"dword:0000000{int(start_menu)}",
            "EstimatedSize": f"dword:{size // 1024:08x}"}
        return files, registry

    def test_silent_install_verbs_and_uninstall(self):
        self.install()
        self.assertAdded(*self.expected())
        self.assertEqual((BUILD / "kelvane.exe").read_bytes(), (self.installed / "kelvane.exe").read_bytes())
        self.assertEqual((PROJECT / "LICENSE").read_bytes(), (self.installed / "LICENSE.txt").read_bytes())
        for shortcut in (self.send_to, self.start_menu):
            self.assertEqual(self.exe.lower(), link_target(shortcut).lower())

        # Explorer reads the classes view, in which the user's classes stand over
        # the machine's; Wine has no such view, so for this test alone the
        # verbs are copied to the machine's classes and taken away again.
        (self.drive / "kt" / "from the installer").mkdir()
        for class_name in ("Directory", "Drive"):
            self.assertNotIn(f"HKEY_LOCAL_MACHINE\\Software\\Classes\\{class_name}", self.pristine[1])
        try:
            for class_name in ("Directory", "Drive"):
                wine_reg(self.prefix, "copy", f"HKCU\\Software\\Classes\\{class_name}",
                         f"HKLM\\Software\\Classes\\{class_name}", "/s", "/f")
            for class_name, item, prompt in (("Directory", "C:\\kt\\from the installer", "C:\\kt\\from the installer>"),
                                             ("Drive", "C:\\", "C:\\>")):
                with self.subTest(class_name=class_name):
                    seen = probe("run", "--verb", "kelvane", "--class", class_name, "--screen", prompt,
                                 "--timeout", "20000", item, prefix=self.prefix, real=True)
                    self.assertEqual(["yes"], seen["screen-found"], seen.get("screen"))
                    # The administrator's verb asks the shell to start kelvane
                    # elevated with the item's full path.
                    seen = probe("run", "--verb", "kelvane-admin", "--class", class_name, "--timeout", "20000",
                                 item, prefix=self.prefix, real=True, trace=True)
                    self.assertEqual([f'"{item}\\"' if item.endswith("\\") else f'"{item}"'],
                                     seen["runas"][seen["process"][0]])
        finally:
            for class_name in ("Directory", "Drive"):
                wine_reg(self.prefix, "delete", f"HKLM\\Software\\Classes\\{class_name}", "/f", check=False)
            (self.drive / "kt" / "from the installer").rmdir()

        # The same version again changes nothing, and says what is installed
        # and how much room it takes, the uninstaller included.
        installed = self.state()
        self.install()
        self.assertEqual(installed, self.state())
        seen = self.run_program("C:\\kt\\setup.exe", exit_code="1", press=["Cancel"])
        self.assertIn(f"kelvane {VERSION} is already installed here; this installs kelvane {VERSION} over it. "
                      "What you chose last time is ticked.", seen["static"])
        (required,) = [text for text in seen["static"] if text.startswith("Space required: ")]
        size = sum(path.stat().st_size for path in self.installed.iterdir()) / 1024
        self.assertLessEqual(abs(float(required.split()[2]) - size), 3, required)

        self.uninstall()
        self.assertEqual(self.pristine, self.state())

    def test_options_leave_out_and_are_remembered(self):
        table = [(["/NoSendTo"], dict(send_to=False)), (["/NoStartMenu"], dict(start_menu=False)),
                 (["/NoMenu"], dict(menu=False)),
                 (["/NoSendTo", "/NoStartMenu", "/NoMenu"], dict(send_to=False, start_menu=False, menu=False))]
        for switches, left_out in table:
            with self.subTest(switches=switches):
                self.install(*switches)
                self.assertAdded(*self.expected(**left_out))
                # A silent upgrade keeps what was left out; a switch puts it back.
                self.install()
                self.assertAdded(*self.expected(**left_out))
                self.install("/SendTo", "/StartMenu", "/Menu")
                self.assertAdded(*self.expected())
                self.uninstall()
                self.assertEqual(self.pristine, self.state())

    def test_upgrade_over_an_older_version(self):
        self.install("/NoStartMenu")
        # What 0.2 and before left: a program of their own, their version, no
        # remembered choices nor made folder, and the Send To entry under its
        # old name.
        (self.installed / "kelvane.exe").write_bytes(b"an older kelvane")
        key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kelvane"
        wine_reg(self.prefix, "add", key, "/v", "DisplayVersion", "/d", "0.1", "/f")
        for name in ("ExplorerMenu", "SendTo", "StartMenu", "CreatedFolder"):
            wine_reg(self.prefix, "delete", key, "/v", name, "/f")
        self.send_to.rename(self.send_to.with_name("kelvane.lnk"))
        self.install()
        self.assertAdded(*self.expected(start_menu=False))
        self.assertEqual((BUILD / "kelvane.exe").read_bytes(), (self.installed / "kelvane.exe").read_bytes())
        self.uninstall()
        self.assertEqual(self.pristine, self.state())

    def test_kelvane_running_blocks_upgrade_and_removal(self):
        # kelvane's dialog stays open while the user thinks: its image can be
        # neither replaced nor deleted. Nothing may change then, and the
        # silent runs must say so by their exit code.
        self.install()
        installed = self.state()
        shown = probe("show", f'"{self.exe}"', prefix=self.prefix)
        self.assertEqual(["Browse for Folder"], shown["dialog"])
        try:
            run = subprocess.run(["wine", "C:\\kt\\setup.exe", "/S"], env=env(True, self.prefix),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 timeout=120)
            self.assertEqual(2, run.returncode)
            self.assertIn(b"kelvane is running (its folder dialog or its message is open), so nothing was "
                          b"changed. Close it and run this again.", run.stdout)
            self.assertEqual(installed, self.state())
            self.assertEqual(2, self.run_uninstaller())
            self.assertEqual(installed, self.state())
            # Nor can it move away from under the running program.
            returncode, lines = self.install_silently("/D=C:\\kt\\moved")
            self.assertEqual((2, 1), (returncode, len(lines)))
            self.assertEqual(installed, self.state())
            seen = self.run_program("C:\\kt\\setup.exe", exit_code="2", press=["Cancel"])
            self.assertIn("kelvane is running: its folder dialog or its message is open, and a running "
                          "program can be neither replaced nor removed.", seen["static"])
            self.assertEqual(installed, self.state())
        finally:
            subprocess.run(["wine", "taskkill", "/f", "/pid", str(int(shown["process"][0], 16))],
                           env=env(True, self.prefix), timeout=60, **wine_session.quiet())
        self.install()
        self.assertEqual(installed, self.state())
        self.uninstall()
        self.assertEqual(self.pristine, self.state())

    def test_reinstall_right_after_uninstall(self):
        # A package manager removes and installs again at once; what the
        # uninstaller leaves for a moment must not take the new program's files.
        self.install()
        self.assertEqual(0, self.run_uninstaller())
        self.install()
        time.sleep(3)
        self.assertAdded(*self.expected())
        self.uninstall()
        self.assertEqual(self.pristine, self.state())

    def test_uninstall_keeps_what_the_user_made(self):
        self.install()
        (self.installed / "notes.txt").write_text("mine")
        mine = "HKCU\\Software\\Classes\\Directory\\shell\\mine"
        wine_reg(self.prefix, "add", mine, "/ve", "/d", "My verb", "/f")
        self.install()
        self.assertEqual(0, self.run_uninstaller())
        self.wait_for_leftover()
        self.assertEqual("mine", (self.installed / "notes.txt").read_text())
        folder = self.installed.relative_to(self.drive).as_posix()
        self.assertAdded([f"{folder}/notes.txt"],
                         {mine.replace("HKCU", "HKEY_CURRENT_USER"): {"@": '"My verb"'}})
        (self.installed / "notes.txt").unlink()
        self.installed.rmdir()
        self.installed.parent.rmdir()
        self.assertNotIn("HKEY_CURRENT_USER\\Software\\Classes", self.pristine[1])
        wine_reg(self.prefix, "delete", "HKCU\\Software\\Classes", "/f")
        self.assertEqual(self.pristine, self.state())


    def test_uninstall_from_a_copy_leaves_nothing(self):
        # Run by hand (without _?=), the uninstaller works from a copy in the
        # temporary folder, which goes too once it has ended, whatever '%'
        # sequence that folder's name holds.
        temp = self.drive / "kt" / "t%n%x"
        temp.mkdir()
        saved = f"Z:{self.prefix}/environment.reg".replace("/", "\\")
        wine_reg(self.prefix, "export", "HKCU\\Environment", saved, "/y")
        try:
            for variable in ("TMP", "TEMP"):
                wine_reg(self.prefix, "add", "HKCU\\Environment", "/v", variable, "/d", r"C:\kt\t%n%x", "/f")
            self.install()
            seen = probe("run", "--timeout", "60000", f'"{self.folder}\\uninstall.exe" /S', prefix=self.prefix,
                         real=True)
            self.assertEqual(["0"], seen["exit"])
            deadline = time.time() + 30
            while (list(temp.iterdir()) or self.installed.parent.exists()) and time.time() < deadline:
                time.sleep(0.2)
            self.assertEqual([], list(temp.iterdir()))
        finally:
            wine_reg(self.prefix, "import", saved)
            (self.prefix / "environment.reg").unlink()
        temp.rmdir()
        self.assertEqual(self.pristine, self.state())

    def test_locations_used_or_refused(self):
        # A folder holding what is not kelvane's, or one Windows or the menu
        # commands cannot use, is refused with a code of its own, one line and
        # nothing written; any other is used as /D= names it, and its removal
        # leaves what was there before, the user's files byte for byte.
        kelvane_exe = (BUILD / "kelvane.exe").read_bytes()
        theirs = {"LICENSE.txt": b"my licence", "uninstall.exe": b"MZ another program's",
                  "kelvane.exe": b"MZ not kelvane", "notes.txt": b"mine"}
        deepest = "C:\\data\\" + "d" * (245 - len("C:\\data\\"))
        table = [
            # /D=, what the folder holds before (None: no folder), exit code,
            # the outermost folder setup makes
            (r"C:\data\Docs", theirs, 3, None),
            (r"C:\data\Licence", {"LICENSE.txt": b"my licence"}, 3, None),
            (r"C:\data\Other", {"uninstall.exe": b"MZ another program's"}, 3, None),
            (r"C:\data\My Docs", theirs, 3, None),
            (r"C:\data\File", b"a file", 4, None),
            ("C:\\", None, 4, None),
            ("E:\\", None, 4, None),
            ("kelvane", None, 4, None),
            ("C:/data/slashes", None, 4, None),
            (r"C:\data\bar|bar", None, 4, None),
            (r"C:\data\q%1q", None, 5, None),
            (r"C:\data\%USERPROFILE%", None, 5, None),
            (deepest + "d", None, 6, None),
            (deepest, None, 0, deepest),
            (r"C:\data\Empty", {}, 0, ""),
            (r"C:\data\New\kelvane" + "\\", None, 0, r"C:\data\New"),
            (r"C:\data\By hand", {"kelvane.exe": kelvane_exe}, 0, ""),
        ]
        (self.drive / "data").mkdir()
        for wanted, holds, code, made in table:
            with self.subTest(folder=wanted[:30], code=code):
                folder = wanted.rstrip("\\")
                if isinstance(holds, bytes):
                    self.host(folder).write_bytes(holds)
                elif holds is not None:
                    self.host(folder).mkdir()
                    for name, content in holds.items():
                        (self.host(folder) / name).write_bytes(content)
                # The machine's keys, slow to read, are compared once, at the end.
                before = self.state(machine=False)
                returncode, lines = self.install_silently(f"/D={wanted}")
                self.assertEqual(code, returncode, lines)
                if code != 0:
                    self.assertEqual(1, len(lines), lines)
                    self.assertEqual(before, self.state(machine=False))
                else:
                    self.assertEqual([], lines)
                    self.assertEqual(kelvane_exe, (self.host(folder) / "kelvane.exe").read_bytes())
                    recorded = read_registry(self.prefix, self.UNINSTALL_KEY)[self.UNINSTALL_KEY]
                    self.assertEqual((f'"{folder}"', f'"{made}"'),
                                     (recorded["InstallLocation"].replace("\\\\", "\\"),
                                      recorded["CreatedFolder"].replace("\\\\", "\\")))
                    self.uninstall(folder, made)
                    # What was kelvane's own went with the rest.
                    files, registry = before
                    self.assertEqual((files - {self.host(folder).relative_to(self.drive).as_posix() + "/" + name
                                               for name in (holds or {}) if (holds or {})[name] == kelvane_exe},
                                      registry), self.state(machine=False))
                if isinstance(holds, dict):
                    for name, content in holds.items():
                        if content != kelvane_exe:
                            self.assertEqual(content, (self.host(folder) / name).read_bytes())
        # By hand, setup says the same in a box.
        seen = self.run_program(r"C:\kt\setup.exe /D=C:\data\Docs", exit_code="3", press=["OK"])
        self.assertIn(r"C:\data\Docs holds files that kelvane did not put there, so nothing was installed: "
                      "setup installs only into a new or empty folder, or over kelvane itself. Choose another "
                      "folder.", seen["static"])
        shutil.rmtree(self.drive / "data")
        self.assertEqual(self.pristine, self.state())

    def test_installing_elsewhere_moves_the_install(self):
        self.install()
        moved = r"C:\data\Moved"
        self.install(f"/D={moved}")
        # The earlier copy went, with the folders its setup made.
        self.assertFalse(self.installed.parent.exists())
        self.assertAdded(*self.expected(folder=moved, made="C:\\data"))
        for shortcut in (self.send_to, self.start_menu):
            self.assertEqual(moved.lower() + "\\kelvane.exe", link_target(shortcut).lower())
        self.uninstall(moved, "C:\\data")
        self.assertEqual(self.pristine, self.state())

    def test_pages_say_what_is_installed(self):
        # By hand: the components fit their list, and the last page names
        # only what was installed.
        told = {"menu": "Right-click a folder, a folder's background or a drive in Explorer and choose "
                        "\"Open console here\" (on Windows 11 under \"Show more options\").",
                "send to": "Send a folder to \"Open console in folder\" (in Explorer's Send To menu).",
                "start menu": "Start kelvane from the Start menu to pick a folder."}
        table = [([], ["menu", "send to", "start menu"]),
                 (["/NoMenu", "/NoStartMenu"], ["send to"]),
                 (["/NoMenu", "/NoSendTo", "/NoStartMenu", "/SendTo"], [])]
        for switches, installed in table:
            with self.subTest(switches=switches):
                seen = self.run_program(" ".join(["C:\\kt\\setup.exe", *switches]), press=["&Install", "&Finish"])
                self.assertEqual({"no"}, set(seen["list-scrolls"]))
                self.assertIn(f"kelvane is installed in {self.folder}.", seen["static"])
                self.assertEqual([told[item] for item in installed],
                                 list(dict.fromkeys(text for text in seen["static"] if text in told.values())))
                self.uninstall()
        self.assertEqual(self.pristine, self.state())


class NativeInterpreter(Case):
    """64-bit Windows gets its native interpreter (every other test runs on a
    64-bit prefix); 32-bit Windows keeps the system folder's one."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = SESSION / "prefix32"
        environment = env(False, cls.prefix)
        environment["WINEARCH"] = "win32"
        subprocess.run(["wineboot", "--init"], env=environment, timeout=300, check=True,
                       **wine_session.quiet())
        shutil.copyfile(BUILD / "tests" / "record_interpreter.exe",
                        cls.prefix / "drive_c" / "windows" / "system32" / "cmd.exe")
        (cls.prefix / "drive_c" / "kt" / "folder").mkdir(parents=True, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=env(False, cls.prefix), timeout=60, check=False)

    def test_which_interpreter_starts(self):
        table = [(None, r"c:\windows\system32\cmd.exe", "64", r"C:\windows\System32\cmd.exe"),
                 (self.prefix, r"c:\windows\system32\cmd.exe", "32", r"C:\windows\system32\cmd.exe")]
        folder("folder")
        for prefix, image, bits, title in table:
            with self.subTest(bits=bits):
                seen, started = kelvane(r"C:\kt\folder", prefix=prefix,
                                        cwd=(prefix or SESSION / "prefix") / "drive_c" / "kt")
                self.assertEqual(["0"], seen["exit"])
                self.assertEqual(1, len(started), started)
                self.assertEqual((image, bits), (started[0]["image"].lower(), started[0]["bits"]))
                self.assertEqual(r'cmd.exe /K C: && cd "\kt\folder"', started[0]["cmdline"])
                # A Command Prompt's title: under WOW64 the one kelvane gives; on
                # 32-bit Windows the interpreter's own path, which it has by itself.
                self.assertEqual(title, started[0]["title"])


    def test_interpreter_that_cannot_start_shows_the_message(self):
        interpreter = self.prefix / "drive_c" / "windows" / "system32" / "cmd.exe"
        interpreter.write_bytes(b"no program")
        try:
            seen, started = kelvane(r"C:\kt\folder", prefix=self.prefix,
                                    cwd=self.prefix / "drive_c" / "kt")
            self.assertMessage(seen)
            self.assertEqual([], started)
        finally:
            shutil.copyfile(BUILD / "tests" / "record_interpreter.exe", interpreter)


class RealInterpreter(Case):
    def test_prompt_shows_the_folder(self):
        # Batch files named like the words of the command line, planted in the
        # current folder: none of them may run.
        rel = ROOT / "rel"
        folder("rel", "x;calc")
        folder("rel", "a")
        for word in ("cd", "C", "pushd", "a", "x", "calc", "echo"):
            (rel / f"{word}.bat").write_text("@echo INJECTED\r\n")
        names = ["a b & c", "%OS%x", "%USERPROFILE%", "a&echo X", "(x)", "x;calc", "it's",
                 "bang!", "^caret", "c,o=m@[1]", " leading blank", "ü é 漢字"]
        table = [(f'"{folder(name)}"', None, f"C:\\kt\\{name}>") for name in names]
        table += [
            ('"x;calc"', rel, "\\kt\\rel\\x;calc>"),
            ("a", rel, "\\kt\\rel\\a>"),
            ("C:/kt/rel", None, "C:\\kt\\rel>"),
            ('"C:\\kt\\rel\\"', None, "C:\\kt\\rel>"),
            ("C:\\\\kt\\rel", None, "C:\\kt\\rel>"),
            ("C:", rel, "C:\\kt\\rel>"),
        ]
        for arguments, cwd, prompt in table:
            with self.subTest(arguments=arguments):
                seen, _ = kelvane(arguments, screen=prompt, cwd=cwd)
                self.assertEqual(["yes"], seen["screen-found"], seen.get("screen"))
                screen = "\n".join(seen["screen"])
                self.assertNotIn("Windows_NT", screen)
                self.assertNotIn("INJECTED", screen)
                self.assertNotRegex(screen, r"(?m)^X$")
                self.assertNotIn("not found", screen.lower())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
