"""What the window-manager tests share: putting a window manager in charge of
the session's desktop (and failing where a run requires one that cannot start),
and reading back what X and the window manager show of a window."""
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

import desktop
from harness import BIN, COMMAND1, ENV, FULL_FRAME, TOOLTIP_MIN, DesktopTest, probe, wait_until, xdotool
from wine_session import screenshot

# _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
MWM_FUNC_MINIMIZE = 0x08
MWM_DECOR_TITLE = 0x08
COLOR_WINDOW = 5
SHOTS = BIN / "screenshots"
# A window that can be resized and maximized, and one of a fixed size with
# neither (as most games' windows are).
RESIZABLE = FULL_FRAME
FIXED_SIZE = 0x14CA0000


def required(window_manager):
    """Whether this run must cover `window_manager`, as FRAMELATCH_REQUIRED_WINDOW_MANAGERS says."""
    names = os.environ.get("FRAMELATCH_REQUIRED_WINDOW_MANAGERS", "").replace(",", " ").split()
    return "all" in names or window_manager in names


def x_tool(*command, check=True):
    """What an X tool (xprop, xwininfo, xdotool) prints about the session's display."""
    return subprocess.run(command, env=ENV, check=check, capture_output=True, text=True, timeout=30).stdout


def x_window(title, program="duskvein.exe"):
    """The X window that Wine made for the top-level window titled `title` of
    `program` (a window manager's frame may carry the title too: mutter's do)."""
    def find():
        named = x_tool("xdotool", "search", "--name", f"^{re.escape(title)}$", check=False).split()
        found = [x_id for x_id in named if f'"{program}"' in x_tool("xprop", "-id", x_id, "WM_CLASS", check=False)]
        return found[0] if len(found) == 1 else None
    return wait_until(find, what=f"one X window named {title!r}")


def motif_hints(x_id):
    """(functions, decorations) as Wine last told the window manager."""
    values = [int(v, 16) for v in re.findall(r"0x[0-9a-fA-F]+", x_tool("xprop", "-id", x_id, "_MOTIF_WM_HINTS"))]
    return (values[1], values[2]) if len(values) >= 3 else None


def geometry(x_id):
    """(left, top, width, height) of an X window on the screen."""
    found = dict(re.findall(r"(Absolute upper-left X|Absolute upper-left Y|Width|Height): +(-?\d+)",
                            x_tool("xwininfo", "-id", x_id)))
    return tuple(int(found[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


def drawn_frame(x_id, measure="parent"):
    """(left, right, top, bottom): what the window manager draws round the
    window, measured between it and the frame window it put it in (a
    window manager's _NET_FRAME_EXTENTS may stay as they were: mutter's do),
    or with measure "extents", by _NET_FRAME_EXTENTS."""
    if measure == "extents":
        values = re.findall(r"\d+", x_tool("xprop", "-id", x_id, "_NET_FRAME_EXTENTS").split("=", 1)[-1])
        return tuple(map(int, values)) if len(values) == 4 else (0, 0, 0, 0)
    frame = x_id
    while True:
        parent = re.search(r"Parent window id: (0x[0-9a-f]+)( \(the root window\))?",
                           x_tool("xwininfo", "-tree", "-id", frame))
        if parent.group(2):
            break
        frame = parent.group(1)
    (x, y, width, height), (fx, fy, fwidth, fheight) = geometry(x_id), geometry(frame)
    return x - fx, fx + fwidth - x - width, y - fy, fy + fheight - y - height


def title_bar_point(x_id, frame):
    """A point halfway up the window manager's title bar, left of its centred
    text and clear of its buttons."""
    x, y, width, _ = geometry(x_id)
    return x + width // 3, y - frame[2] // 2


def pixel(x, y):
    """The colour the screen shows at (x, y), as ImageMagick names it in hex."""
    with tempfile.TemporaryDirectory() as folder:
        shot = screenshot(Path(folder, "pixel.png"), f"1x1+{x}+{y}")
        text = subprocess.run(["convert", str(shot), "-alpha", "off", "txt:-"], check=True, capture_output=True,
                              text=True, timeout=60).stdout
    return re.search(r"#[0-9A-Fa-f]{6}", text).group(0)


def screen_area(window, margin=30):
    """An import crop around a window and the frame a window manager puts round it."""
    left, top, right, bottom = window["screenRect"]
    left, top = max(left - margin, 0), max(top - margin, 0)
    return f"{right - left + margin}x{bottom - top + margin}+{left}+{top}"


def settled(read, fits, what, key=None):
    """What `read` returns once two readings in a row agree (on `key` alone,
    if given) and `fits` the last."""
    last = [None]

    def same():
        now, before = read(), last[0]
        last[0] = now
        agree = before is not None and (now[key] == before[key] if key else now == before)
        return now if agree and fits(now) else None
    return wait_until(same, what=f"{what} to settle")


class WindowManagerTest(DesktopTest):
    window_manager = "openbox"
    frame_measure = "parent"
    screen_unreadable = None

    @classmethod
    def setUpClass(cls):
        """Puts the class's window manager in charge of the session's desktop."""
        try:
            desktop.start(cls.window_manager)
        except desktop.Unavailable as why:
            if required(cls.window_manager):
                raise AssertionError(f"{cls.window_manager} cannot start here, and this run requires it "
                                     f"(FRAMELATCH_REQUIRED_WINDOW_MANAGERS): {why}") from None
            raise unittest.SkipTest(str(why)) from None

    def drawn_frame(self, x_id):
        return drawn_frame(x_id, self.frame_measure)

    def screenshot(self, name, crop):
        if not self.screen_unreadable:
            screenshot(SHOTS / name, crop)

    def screen_check(self):
        """Whether the screen can be read here; where it cannot, a skipped
        subtest says why, and the test goes on with the rest."""
        if self.screen_unreadable:
            with self.subTest("what the screen shows"):
                self.skipTest(self.screen_unreadable)
        return not self.screen_unreadable

    def assert_handled_without_recalculation(self, target, size):
        """Once the target has handled its style change (it answers the probe,
        so every message sent to it before has been handled), its client area
        is still `size`: the frame was not recalculated. Returns the target."""
        wait_until(lambda: probe("ping", target["hwnd"]), what="the stand-in to answer")
        now = self.window(target["hwnd"], "Dusk Vein")
        self.assertEqual(now["clientSize"], size, "the frame is recalculated at once")
        return now

    def settled_target(self, redraw=True, style=FULL_FRAME):
        """Starts the stand-in and returns it once the window manager has placed
        it: two readings in a row agree, with its whole frame shown."""
        _, target = self.start_target(style=None if style == FULL_FRAME else style, redraw=redraw)
        return settled(lambda: self.window(target["hwnd"], "Dusk Vein"), lambda now: now["style"] == style,
                       "the stand-in")

    def placed_fltx(self):
        """Starts FLTX and returns it once the window manager has placed it."""
        _, fltx = self.start_fltx()
        return settled(lambda: self.window(fltx["hwnd"]), lambda now: True, "FLTX", key="screenRect")

    def settled_fltx(self):
        """FLTX once placed, and made active as a press would, so the target's
        title bar looks inactive from then on."""
        fltx = self.placed_fltx()
        xdotool("windowactivate", x_window("FLTX", "framelatch.exe"))
        fltx = wait_until(lambda: self.window(fltx["hwnd"]), lambda w: w["active"], what="FLTX to be active")
        # The pointer reaches FLTX's buttons once Min's tooltip shows: a window
        # manager may keep the first click after an activation (KWin does).
        self.tooltip_of(fltx, COMMAND1, TOOLTIP_MIN)
        return fltx
