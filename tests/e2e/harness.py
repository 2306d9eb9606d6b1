"""Drives Framelatch.exe and the stand-in target on the test run's Wine session.

Input goes in as real X events (xdotool); what a user would see comes back
from the probe program, as JSON.
"""
import json
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from wine_session import BIN, ENV

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


# The session's own loader: a 64-bit session never goes through the `wine`
# wrapper, which would pick the 32-bit loader whenever it is installed.
WINE = ENV["WINELOADER"]


def wait_until(condition, fits=bool, timeout=10.0, what="condition"):
    """Polls `condition` until it returns something truthy that `fits`, and
    returns that; fails after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result and fits(result):
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class WineToolFailed(Exception):
    """A Windows command-line program in the session ended with an error."""


def run_wine_tool(*command, env=None):
    """What a Windows command-line program (the probe, or Wine's own, as reg)
    printed in the session of `env`; a failure says what Wine said on stderr.
    Rarely, under a window manager, a Wine process ends with status 1 before it
    prints anything: such a run is tried once more, and said so on stderr."""
    env = dict(env or ENV, WINEDEBUG="-all,err+all")
    for attempt in (1, 2):
        # Output goes through files, not pipes: a Wine process may start a helper
        # (the desktop process) that inherits a pipe and keeps it open long after.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.run([env["WINELOADER"], *map(str, command)], env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, timeout=60).returncode
            printed, complaint = (f.seek(0) or f.read().decode("utf-8", "replace") for f in (out, err))
        if status == 0:
            return printed
        failure = f"{' '.join(map(str, command))} exited with {status}; stdout {printed!r}; stderr {complaint!r}"
        if printed or attempt == 2:
            raise WineToolFailed(failure)
        print(f"\n{failure}; trying once more", file=sys.stderr)


def probe(*args, env=None):
    """What the probe reports, run in the session of `env` (the test run's own by
    default), as one JSON document."""
    return json.loads(run_wine_tool(BIN / "probe.exe", *args, env=env))


def set_registry_value(key, name, value, kind="REG_SZ", env=None):
    run_wine_tool("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f", env=env)


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
    """A Windows program from the build folder `bin`, started in the session of
    `env`; killed by PID if still running at the end."""

    def __init__(self, exe, *args, env=None, bin=BIN):
        self.window = None
        self.exe = exe
        self.env = env or ENV
        # Kept for the message if the program ends before it should (a file, not a pipe, as for the probe).
        self.stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen([self.env["WINELOADER"], str(bin / exe), *map(str, args)], env=self.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.stderr)

    def running(self):
        return self.process.poll() is None

    def check_running(self):
        """Fails at once, with what the program printed, if it has already ended."""
        if not self.running():
            self.stderr.seek(0)
            raise AssertionError(f"{self.exe} ended with status {self.process.returncode}; stderr "
                                 f"{self.stderr.read().decode('utf-8', 'replace')!r}")

    def stop(self):
        """Closes the program's window as a user would; kills it only if that fails."""
        if self.running() and self.window:
            try:
                probe("close", self.window["hwnd"], env=self.env)
                self.process.wait(timeout=10)
            except (WineToolFailed, subprocess.TimeoutExpired):
                pass
        if self.running():
            self.process.kill()
        self.process.wait(timeout=30)
        self.stderr.close()


class DesktopTest(unittest.TestCase):
    """A test that starts programs on the shared desktop and leaves it empty again."""

    # The sessions whose desktops the test uses, by their environments.
    sessions = (ENV,)

    def desktops_empty(self, boxes_too=False):
        return all(not probe("windows", "FLTX", env=env) and not probe("windows", "Dusk Vein", env=env)
                   and not (boxes_too and probe("boxes", env=env)) for env in self.sessions)

    def setUp(self):
        self.programs = []
        self.addCleanup(self.stop_programs)
        wait_until(self.desktops_empty, what="an empty desktop left by the previous test")

    def stop_programs(self):
        for program in reversed(self.programs):
            program.stop()
        wait_until(lambda: self.desktops_empty(boxes_too=True), what="the test's windows to go away")

    def start(self, exe, *args, env=None, bin=BIN):
        program = Program(exe, *args, env=env, bin=bin)
        self.programs.append(program)
        return program

    def start_with_window(self, exe, title, *args, env=None, bin=BIN):
        """Starts a program and waits for its new visible window titled `title`;
        a program that ends first fails the wait at once, with what it printed."""
        known = {w["hwnd"] for w in probe("windows", title, env=env)}
        program = self.start(exe, *args, env=env, bin=bin)

        def shown():
            program.check_running()
            return next((w for w in probe("windows", title, env=env) if w["hwnd"] not in known and w["visible"]),
                        None)
        program.window = wait_until(shown, timeout=20, what=f"{exe}'s window {title!r}")
        return program, program.window

    def start_fltx(self, env=None, bin=BIN):
        """Starts Framelatch.exe; returns (program, window)."""
        return self.start_with_window("Framelatch.exe", "FLTX", env=env, bin=bin)

    def start_target(self, style=None, title="Dusk Vein", bin=BIN, redraw=True):
        """Starts the stand-in target; returns (program, window). With redraw
        False it leaves its frame alone when its style changes, as most programs do."""
        args = ["--title", title] + (["--style", f"{style:08X}"] if style is not None else [])
        args += [] if redraw else ["--redraw", "no"]
        return self.start_with_window("DuskVein.exe", title, *args, bin=bin)

    @staticmethod
    def window(hwnd, title="FLTX", env=None):
        return next((w for w in probe("windows", title, env=env) if w["hwnd"] == hwnd), None)

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
        return wait_until(lambda: self.window(window["hwnd"]), lambda w: w["screenRect"][:2] == [left + dx, top + dy],
                          what="the window to move")

    def target_style(self, target, title="Dusk Vein"):
        found = self.window(target["hwnd"], title)
        return found["style"] if found else None

    def wait_for_style(self, target, style):
        wait_until(lambda: self.target_style(target) == style,
                   what=f"target style {style:#010x} (now {self.target_style(target) or 0:#010x})")

    def box_of(self, window, env=None):
        return next((b for b in probe("boxes", env=env) if b["owner"] == window["hwnd"]), None)

    def close_warning(self, fltx, env=None):
        """Checks that FLTX shows the not-running warning, and closes it with Enter as a user does."""
        box = wait_until(lambda: self.box_of(fltx, env=env), what="the not-running warning")
        self.assertEqual((box["message"], box["text"]), (NOT_RUNNING, "Framelatch"))
        key("Return")
        wait_until(lambda: self.box_of(fltx, env=env) is None, what="the warning to close")

    def tooltip_of(self, fltx, control_id, text):
        """Puts the pointer on a button of FLTX and waits for its tooltip `text`."""
        xdotool("mousemove", *centre(self.button(fltx, control_id)["screenRect"]))
        return wait_until(lambda: next((t for t in probe("tooltips") if t["owner"] == fltx["hwnd"] and t["visible"]
                                        and t["tip"] == text), None), what=f"the tooltip {text!r}")
