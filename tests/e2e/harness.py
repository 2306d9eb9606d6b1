"""Drives Framelatch.exe and the stand-in target on the test run's Wine session.

Input goes in as real X events (xdotool); what a user would see comes back
from the probe program, as JSON.
"""
import json
import os
import shlex
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

BIN = Path(os.environ.get("FRAMELATCH_BIN", Path(__file__).resolve().parents[2] / "build" / "windows"))
SESSION_STATE = Path(os.environ.get("FRAMELATCH_SESSION", BIN / "tests" / "wine-session.env"))

WS_CAPTION = 0x00C00000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_THICKFRAME = 0x00040000
WS_SYSMENU = 0x00080000
WS_POPUP = 0x80000000
WS_TABSTOP = 0x00010000
BS_TYPEMASK = 0x0000000F
BS_DEFPUSHBUTTON = 0x1
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_APPWINDOW = 0x00040000
WS_EX_TOPMOST = 0x00000008
FULL_FRAME = 0x14CF0000          # visible overlapped window, every frame part

COMMAND1, COMMAND2 = 101, 102
NOT_RUNNING = "DUSK VEINが起動されていません"
TOOLTIP_MIN = "最小化ボタンを切り替えます"
TOOLTIP_TB = "タイトルバーを切り替えます"


def session_env():
    """The session's environment variables, read from its state file."""
    env = dict(os.environ)
    out = subprocess.run(["bash", "-c", f"source {shlex.quote(str(SESSION_STATE))} && env -0"],
                         check=True, capture_output=True).stdout
    for item in out.split(b"\0"):
        if b"=" in item:
            key, value = item.split(b"=", 1)
            env[key.decode()] = value.decode()
    return env


ENV = session_env()
# The session's own loader: a 64-bit session never goes through the `wine`
# wrapper, which would pick the 32-bit loader whenever it is installed.
WINE = ENV["WINELOADER"]


def wait_until(condition, timeout=10.0, what="condition"):
    """Polls `condition` until it returns something truthy; fails after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def probe(*args):
    # Output goes through a file, not a pipe: a Wine process may start a helper
    # (the desktop process) that inherits the pipe and keeps it open long after.
    with tempfile.TemporaryFile() as out:
        subprocess.run([WINE, str(BIN / "probe.exe"), *map(str, args)], env=ENV, check=True,
                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=60)
        out.seek(0)
        return json.loads(out.read().decode("utf-8"))


def screenshot(path, crop=None):
    """Saves the session's screen, or the part `crop` ("WxH+X+Y") of it, as a PNG file."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["import", "-window", "root", *(["-crop", crop] if crop else []), str(path)], env=ENV,
                   check=True, timeout=60)
    return path


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], env=ENV, check=True, timeout=30)


def click(x, y):
    xdotool("mousemove", x, y, "click", "1")


def key(*keys):
    xdotool("key", "--delay", "30", *keys)


def centre(rect):
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


class Program:
    """A Windows program started in the session; killed by PID if still running at the end."""

    def __init__(self, exe, *args, env=None):
        self.window = None
        self.process = subprocess.Popen([WINE, str(BIN / exe), *map(str, args)], env=env or ENV,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def running(self):
        return self.process.poll() is None

    def stop(self):
        """Closes the program's window as a user would; kills it only if that fails."""
        if self.running() and self.window:
            subprocess.run([WINE, str(BIN / "probe.exe"), "close", str(self.window["hwnd"])], env=ENV,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        if self.running():
            self.process.kill()
        self.process.wait(timeout=30)


class DesktopTest(unittest.TestCase):
    """A test that starts programs on the shared desktop and leaves it empty again."""

    def setUp(self):
        self.programs = []
        self.addCleanup(self.stop_programs)
        wait_until(lambda: not probe("windows", "FLTX") and not probe("windows", "Dusk Vein"),
                   what="an empty desktop left by the previous test")

    def stop_programs(self):
        for program in reversed(self.programs):
            program.stop()
        wait_until(lambda: not probe("windows", "FLTX") and not probe("windows", "Dusk Vein")
                   and not probe("boxes"), what="the test's windows to go away")

    def start(self, exe, *args, env=None):
        program = Program(exe, *args, env=env)
        self.programs.append(program)
        return program

    def start_with_window(self, exe, title, *args, env=None):
        """Starts a program and waits for its new visible window titled `title`."""
        known = {w["hwnd"] for w in probe("windows", title)}
        program = self.start(exe, *args, env=env)
        program.window = wait_until(lambda: next((w for w in probe("windows", title)
                                                  if w["hwnd"] not in known and w["visible"]), None),
                                    what=f"{exe}'s window {title!r}")
        return program, program.window

    def start_fltx(self, env=None):
        """Starts Framelatch.exe; returns (program, window)."""
        return self.start_with_window("Framelatch.exe", "FLTX", env=env)

    def start_target(self, style=None, title="Dusk Vein"):
        """Starts the stand-in target; returns (program, window)."""
        args = ["--title", title] + (["--style", f"{style:08X}"] if style is not None else [])
        return self.start_with_window("DuskVein.exe", title, *args)

    @staticmethod
    def window(hwnd, title="FLTX"):
        return next((w for w in probe("windows", title) if w["hwnd"] == hwnd), None)

    @staticmethod
    def button(window, control_id):
        return next(c for c in window["children"] if c["id"] == control_id)

    def press(self, window, control_id):
        """Clicks a button of FLTX with the mouse."""
        click(*centre(self.button(window, control_id)["screenRect"]))

    def drag_by_title_bar(self, window, dx, dy):
        """Moves a window as a user does; returns it as it is afterwards."""
        left, top, right, _ = window["screenRect"]
        x, y = (left + right) // 2 - 10, (top + window["clientOrigin"][1]) // 2
        xdotool("mousemove", x, y, "mousedown", "1", "mousemove", x + dx // 2, y + dy // 2,
                "mousemove", x + dx, y + dy, "mouseup", "1")
        return wait_until(lambda: (lambda w: w if w["screenRect"][:2] == [left + dx, top + dy] else None)(
            self.window(window["hwnd"])), what="the window to move")

    def target_style(self, target, title="Dusk Vein"):
        found = self.window(target["hwnd"], title)
        return found["style"] if found else None

    def wait_for_style(self, target, style):
        wait_until(lambda: self.target_style(target) == style,
                   what=f"target style {style:#010x} (now {self.target_style(target) or 0:#010x})")

    def box_of(self, window):
        return next((b for b in probe("boxes") if b["owner"] == window["hwnd"]), None)
