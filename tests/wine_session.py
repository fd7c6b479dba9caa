"""Starts and ends the one Wine session that the whole test run shares.

start: a private Xvfb display, a fresh test-owned prefix inside the build tree
(with the recording stand-ins installed as its 32-bit and 64-bit cmd.exe), and a persistent
wineserver, so that no test waits for either. stop: ends all of it. The launch
benchmark runs its own session the same way, under another name.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path


def session_dir(build, name="wine-session"):
    return Path(build).resolve() / name


def wine_env(session, display=None):
    env = dict(os.environ, WINEPREFIX=str(session / "prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d", LANG="C.UTF-8")
    if display is not None:
        env["DISPLAY"] = display
    return env


def quiet(**kwargs):
    return dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True, **kwargs)


def start(build, stand_in, stand_in64, name="wine-session"):
    session = session_dir(build, name)
    stop(build, name)
    shutil.rmtree(session, ignore_errors=True)
    session.mkdir(parents=True)

    display_file = session / "display"
    with open(display_file, "w") as fd:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(fd.fileno()), "-screen", "0",
                                 "1280x800x24", "-nolisten", "tcp"], pass_fds=[fd.fileno()],
                                **quiet())
    deadline = time.time() + 20
    while not display_file.read_text().strip() and time.time() < deadline:
        time.sleep(0.1)
    display = ":" + display_file.read_text().strip()
    if display == ":":
        sys.exit("Xvfb did not start")

    env = wine_env(session, display)
    subprocess.Popen(["wineserver", "-p"], **quiet(env=env)).wait(timeout=30)
    subprocess.run(["wineboot", "--init"], timeout=300, check=True, **quiet(env=env))

    windows = session / "prefix" / "drive_c" / "windows"
    shutil.copyfile(stand_in, windows / "syswow64" / "cmd.exe")
    shutil.copyfile(stand_in64, windows / "system32" / "cmd.exe")
    (session / "session.json").write_text(json.dumps({"display": display, "xvfb": xvfb.pid}))
    print("wine session on display", display)


def stop(build, name="wine-session"):
    session = session_dir(build, name)
    info = session / "session.json"
    if (session / "prefix").exists():
        subprocess.run(["wineserver", "-k"], env=wine_env(session), timeout=60, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if info.exists():
        try:
            os.kill(json.loads(info.read_text())["xvfb"], signal.SIGTERM)
        except ProcessLookupError:
            pass
        info.unlink()


if __name__ == "__main__":
    if sys.argv[1] == "start":
        start(*sys.argv[2:5])
    else:
        stop(sys.argv[2])
