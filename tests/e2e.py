"""kelvane.exe end to end under Wine, driven as a user drives it.

Each run starts kelvane.exe through the probe helper (as the desktop starts it)
and reads what a user would see: the dialog or message, the exit code, and what
the interpreter was started with (the recording stand-in) or its console screen
(the real interpreter). Run by ctest inside the shared Wine session.
"""
import json
import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import wine_session

BUILD = Path(os.environ["KELVANE_BUILD"])
SESSION = wine_session.session_dir(BUILD)
DRIVE_C = SESSION / "prefix" / "drive_c"
ROOT = DRIVE_C / "kt"          # C:\kt: every file the tests make
RECORD = ROOT / "record.txt"   # what the stand-in interpreter writes
MESSAGE = {"dialog": ["Kelvane by Tamrik"], "static": ["It is not a folder"],
           "button": ["OK"], "pressed": ["OK"], "exit": ["0"]}
SYSTEM_CMD = r"c:\windows\syswow64\cmd.exe"


def env(real_interpreter):
    display = json.loads((SESSION / "session.json").read_text())["display"]
    result = wine_session.wine_env(SESSION, display)
    result["WINEDLLOVERRIDES"] += ";cmd.exe=" + ("b" if real_interpreter else "n")
    result["KELVANE_TEST_RECORD"] = r"C:\kt\record.txt"
    return result


def probe(*args, real=False, cwd=None):
    out = subprocess.run(["wine", str(BUILD / "tests" / "probe.exe"), *args], env=env(real),
                         cwd=cwd or ROOT, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=90).stdout.decode("utf-8")
    seen = {}
    for line in out.splitlines():
        key, _, value = line.partition("=")
        seen.setdefault(key, []).append(value)
    return seen


def kelvane(arguments, press=(), screen=None, exe=None, cwd=None):
    """Runs kelvane.exe with the given command-line tail; returns what the
    probe saw and, for the stand-in, what the interpreter recorded."""
    RECORD.unlink(missing_ok=True)
    exe = exe or str(BUILD / "kelvane.exe")
    line = f'"{exe}" {arguments}' if arguments else f'"{exe}"'
    options = [o for p in press for o in ("--press", p)]
    if screen is not None:
        options += ["--screen", screen]
    seen = probe("run", *options, "--timeout", "20000", line, real=screen is not None, cwd=cwd)
    records = RECORD.read_text("utf-8").split("image=")[1:] if RECORD.exists() else []
    started = [dict(item.split("=", 1) for item in ("image=" + r).strip().split("\n"))
               for r in records]
    return seen, started


def folder(*parts):
    path = ROOT.joinpath(*parts)
    path.mkdir(parents=True, exist_ok=True)
    return "C:\\kt\\" + "\\".join(parts)


def setUpModule():
    shutil.rmtree(ROOT, ignore_errors=True)
    ROOT.mkdir(parents=True)


class Case(unittest.TestCase):
    def assertMessage(self, seen):
        self.assertEqual(MESSAGE, {k: v for k, v in seen.items() if k != "child"})
        self.assertNotIn("child", seen)

    def assertSystemInterpreter(self, started):
        self.assertEqual(1, len(started), started)
        self.assertEqual(SYSTEM_CMD, started[0]["image"].lower().replace("system32", "syswow64"))

    def assertStarted(self, started, command, directory=None):
        self.assertSystemInterpreter(started)
        self.assertEqual(command, started[0]["cmdline"])
        if directory is not None:
            self.assertEqual(directory.lower(), started[0]["cwd"].lower().rstrip("\\"))


class FolderRoad(Case):
    def test_folder_arguments(self):
        names = ["plain", "a b & c", "ü é 漢字 \U0001F600", "semi;colon (x) ^caret !bang"]
        for name in names:
            with self.subTest(name=name):
                path = folder(name)
                seen, started = kelvane(f'"{path}"')
                self.assertEqual(["0"], seen["exit"])
                self.assertNotIn("dialog", seen)
                self.assertStarted(started, f'cmd.exe /K C: && cd "{path[2:]}"')

    def test_drive_root_and_extra_arguments(self):
        table = [
            ("C:\\", 'cmd.exe /K C: && cd "\\"'),
            (f'{folder("first")} {folder("second")}', 'cmd.exe /K C: && cd "\\kt\\first"'),
            (f'"{folder("one two")}" C:\\nothing', 'cmd.exe /K C: && cd "\\kt\\one two"'),
        ]
        for arguments, command in table:
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments)
                self.assertEqual(["0"], seen["exit"])
                self.assertStarted(started, command)

    def test_folders_kept_off_the_command_line(self):
        # Forms that would put the path in command position, or a '%' inside the
        # quotes, open with the folder as the interpreter's starting directory.
        folder("rel", "a&calc")
        folder("rel", "dir")
        table = [
            (f'"{folder("%OS%x")}"', None, "C:\\kt\\%OS%x"),
            (f'"{folder("%USERPROFILE%")}"', None, "C:\\kt\\%USERPROFILE%"),
            (f'"\\\\?\\{folder("long form")}"', None, "C:\\kt\\long form"),
            ('"a&calc"', ROOT / "rel", "\\kt\\rel\\a&calc"),
            ("dir", ROOT / "rel", "\\kt\\rel\\dir"),
            (".", ROOT / "rel", "\\kt\\rel"),
        ]
        for arguments, cwd, directory in table:
            with self.subTest(arguments=arguments):
                seen, started = kelvane(arguments, cwd=cwd)
                self.assertEqual(["0"], seen["exit"])
                self.assertEqual(1, len(started), started)
                self.assertEqual("cmd.exe /K", started[0]["cmdline"])
                self.assertTrue(started[0]["cwd"].lower().endswith(directory.lower()), started)

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


class PickerRoad(Case):
    def test_dialog_and_ok_on_initial_selection(self):
        seen, started = kelvane("", press=["OK"])
        self.assertEqual(["Browse for Folder"], seen["dialog"])
        self.assertEqual(["Select the target folder:"], seen["static"][:1])
        self.assertEqual(["OK", "Cancel"], seen["button"])
        self.assertEqual(["0"], seen["exit"])
        self.assertEqual(1, len(started), started)
        self.assertRegex(started[0]["cmdline"], r'^cmd\.exe /K C: && cd "\\users\\[^"]+\\Desktop"$')

    def test_cancel_shows_the_message(self):
        seen, started = kelvane("", press=["Cancel"])
        self.assertEqual(["Browse for Folder", "Kelvane by Tamrik"], seen["dialog"])
        self.assertEqual(["Cancel", "OK"], seen["pressed"])
        self.assertEqual("It is not a folder", seen["static"][-1])
        self.assertEqual(["0"], seen["exit"])
        self.assertEqual([], started)


class FailureRoads(Case):
    def test_every_failure_shows_the_one_message(self):
        deep = ROOT / "deep"
        parts = ["d" * 200] * 5
        os.makedirs(deep.joinpath(*parts), exist_ok=True)
        too_long = "\\\\?\\C:\\kt\\deep\\" + "\\".join(parts)
        table = {
            "nothing there": "C:\\kt\\nothing-here",
            "empty argument": '""',
            "missing drive": "Q:\\nowhere",
            "folder longer than 999 units": too_long,
        }
        for case, arguments in table.items():
            with self.subTest(case=case):
                seen, started = kelvane(arguments)
                self.assertMessage(seen)
                self.assertEqual([], started)


class RealInterpreter(Case):
    def test_prompt_shows_the_folder(self):
        folder("rel", "x;calc")
        table = [
            (f'"{folder("a b & c")}"', None, "C:\\kt\\a b & c>"),
            (f'"{folder("%OS%x")}"', None, "C:\\kt\\%OS%x>"),
            (f'"{folder("a&echo X")}"', None, "C:\\kt\\a&echo X>"),
            ('"x;calc"', ROOT / "rel", "\\kt\\rel\\x;calc>"),
        ]
        for arguments, cwd, prompt in table:
            with self.subTest(arguments=arguments):
                seen, _ = kelvane(arguments, screen=prompt, cwd=cwd)
                self.assertEqual(["yes"], seen["screen-found"], seen.get("screen"))
                screen = "\n".join(seen["screen"])
                self.assertNotIn("Windows_NT", screen)
                self.assertNotRegex(screen, r"(?m)^X$")
                self.assertNotIn("not found", screen.lower())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
