"""Times kelvane.exe's launch from a folder against the floor and the limit, in
one Wine session of its own, and prints the median ratios, the machine, and the
images' sizes and imports.  usage: launch.py BUILD ROUNDS
"""
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
import wine_session  # noqa: E402

SESSION = "bench-wine"
# Median kelvane/other over the rounds, at most: the floor splits its command
# line with shell32, as kelvane once did; the limit loads the kernel alone.
GOALS = {"floor": 1.05, "limit": 1.15}
LAUNCHERS = ("kelvane", "floor", "limit")


def describe(image):
    pe = pefile.PE(str(image), fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    imports = ", ".join(entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    return f"{image.name}: {image.stat().st_size:,} bytes; imports {imports}"


def machine():
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.machine())
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    # Where the kernel runs no i386 code, qemu runs Wine's 32-bit half.
    emulated = Path("/proc/sys/fs/binfmt_misc/qemu-i386").exists()
    i386 = "qemu-i386 user-mode emulation" if emulated else "the kernel's own IA-32 support"
    return (f"{cpu}, {os.cpu_count()} cores; Linux {platform.release()}; {wine}; "
            f"32-bit processes run by {i386}")


def measure(build, rounds):
    tests = build / "tests"
    wine_session.start(build, tests / "record_interpreter.exe", tests / "record_interpreter64.exe",
                       SESSION)
    try:
        session = wine_session.session_dir(build, SESSION)
        bench = session / "prefix" / "drive_c" / "bench"
        (bench / "folder").mkdir(parents=True)
        shutil.copyfile(build / "kelvane.exe", bench / "kelvane.exe")
        for launcher in ("floor", "limit"):
            shutil.copyfile(build / "bench" / f"{launcher}.exe", bench / f"{launcher}.exe")
        display = json.loads((session / "session.json").read_text())["display"]
        env = wine_session.wine_env(session, display)
        env["WINEDLLOVERRIDES"] += ";cmd.exe=n"
        env["KELVANE_TEST_RECORD"] = r"C:\bench\record.txt"
        run = subprocess.run(["wine", str(build / "bench" / "launch_bench.exe"), str(rounds),
                              r"C:\bench\kelvane.exe", r"C:\bench\folder", r"C:\bench\floor.exe",
                              r"C:\bench\limit.exe", r"C:\bench\record.txt"],
                             env=env, cwd=bench, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=90 * rounds + 120, text=True)
    finally:
        wine_session.stop(build, SESSION)
    lines = [line.split() for line in run.stdout.splitlines()]
    if run.returncode != 0 or len(lines) != len(LAUNCHERS) * rounds:
        sys.exit(f"launch_bench failed: {run.stdout.strip()}")
    times = {name: [] for name in LAUNCHERS}
    for name, seconds in lines:
        times[name].append(float(seconds))
    return times


def main():
    build = Path(sys.argv[1]).resolve()
    rounds = int(sys.argv[2])
    times = measure(build, rounds)
    print(f"machine: {machine()}")
    print(describe(build / "kelvane.exe"))
    for launcher in ("floor", "limit"):
        print(describe(build / "bench" / f"{launcher}.exe"))
    print(f"rounds: {rounds}, each launcher once a round, rotating which goes first")
    for name in LAUNCHERS:
        ms = sorted(1000 * t for t in times[name])
        print(f"{name}: median {statistics.median(ms):.1f} ms (fastest {ms[0]:.1f}, "
              f"slowest {ms[-1]:.1f})")
    for other, goal in GOALS.items():
        ratio = statistics.median(k / o for k, o in zip(times["kelvane"], times[other]))
        verdict = "met" if ratio <= goal else "missed"
        print(f"median ratio kelvane/{other}: {ratio:.3f} (goal at most {goal}: {verdict})")


if __name__ == "__main__":
    main()
