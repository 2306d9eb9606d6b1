"""Framelatch beside the stand-in under the window managers of the desktops
players use (GNOME's mutter, KDE Plasma's KWin, Xfce's xfwm4) and openbox, with
Wine in its default managed mode, as on a Linux desktop: what Wine tells the
window manager about the target's frame, and what the window manager draws.

GNOME's and KDE Plasma's Wayland sessions are here too: GNOME Shell, and
mutter and KWin as Wayland compositors, with Wine's windows on their Xwayland,
as Wine runs there; and Wine's own Wayland driver under GNOME Shell and KWin,
with no X at all, as players turn it on (Heroic's "Enable Wine-Wayland",
Proton's PROTON_ENABLE_WAYLAND=1).

A window manager that is not installed here is skipped, with the reason: the
README's test command installs openbox only, CI's Debian 13 run all of them.
There FRAMELATCH_REQUIRED_WINDOW_MANAGERS=all (or a list of names) makes one
that cannot start fail the run instead."""
import json
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import (BIN, COMMAND1, COMMAND2, ENV, DESKTOP_SCRIPT, FULL_FRAME, SESSION_STATE, SKIPPED, WS_CAPTION,
                     WS_MINIMIZEBOX, WS_THICKFRAME, DesktopTest, centre, probe, screenshot, session_env,
                     set_registry_value, wait_until, xdotool)
# Wine's Wayland driver's entries: test class name, compositor, and why the
# screen cannot be read back under it (None where it can).
WINE_WAYLAND_DRIVER = {
    "gnome-shell-winewayland": ("GnomeShellWineWayland", None),
    "kwin-winewayland": ("KWinWineWayland", "KWin's virtual backend composites with QPainter here and offers no "
                         "screenshot interface (org.kde.KWin.ScreenShot2 is absent): the frames are read as Wine "
                         "computes them"),
}

# _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
MWM_FUNC_MINIMIZE = 0x08
MWM_DECOR_TITLE = 0x08
COLOR_WINDOW = 5
SHOTS = BIN / "screenshots"
X11_DRIVER_KEY = r"HKCU\Software\Wine\X11 Driver"
# A window that can be resized and maximized, and one of a fixed size with
# neither (as most games' windows are).
RESIZABLE = FULL_FRAME
FIXED_SIZE = 0x14CA0000
# The desktops' window managers, by the names the session script knows them:
# test class name, how its frame is measured, and why the screen cannot be read
# back under it (None where it can).
COMPOSITOR_SCREEN = ("a Wayland compositor draws the screen itself, outside X: Xwayland holds no picture of it "
                     "(import -window root fails)")
WINDOW_MANAGERS = {
    "openbox": ("Openbox", "parent", None),
    "mutter": ("Mutter", "parent", None),
    "kwin": ("KWin", "parent", None),
    "xfwm4": ("Xfwm4", "parent", None),
    "mutter-wayland": ("MutterWayland", "parent", COMPOSITOR_SCREEN + "; mutter alone, without GNOME Shell, "
                       "offers no screenshot"),
    # GNOME Shell takes pictures of its screen over D-Bus.
    "gnome-shell": ("GnomeShell", "parent", None),
    # KWin under Wayland keeps an X11 window in a parent of its own size and
    # draws the decoration apart: only _NET_FRAME_EXTENTS tell the frame.
    "kwin-wayland": ("KWinWayland", "extents", COMPOSITOR_SCREEN + "; KWin's screenshot over D-Bus refuses a "
                     "program that no installed desktop file authorises (NoAuthorized)"),
}


def required(window_manager):
    """Whether this run must cover `window_manager`, as FRAMELATCH_REQUIRED_WINDOW_MANAGERS says."""
    names = os.environ.get("FRAMELATCH_REQUIRED_WINDOW_MANAGERS", "").replace(",", " ").split()
    return "all" in names or window_manager in names


def x_window(title, program="duskvein.exe"):
    """The X window that Wine made for the top-level window titled `title` of
    `program` (a window manager's frame may carry the title too: mutter's do)."""
    def find():
        named = subprocess.run(["xdotool", "search", "--name", f"^{re.escape(title)}$"], env=ENV,
                               capture_output=True, text=True, timeout=30).stdout.split()
        found = [x_id for x_id in named if f'"{program}"' in subprocess.run(
            ["xprop", "-id", x_id, "WM_CLASS"], env=ENV, capture_output=True, text=True, timeout=30).stdout]
        return found[0] if len(found) == 1 else None
    return wait_until(find, what=f"one X window named {title!r}")


def motif_hints(x_id):
    """(functions, decorations) as Wine last told the window manager."""
    text = subprocess.run(["xprop", "-id", x_id, "_MOTIF_WM_HINTS"], env=ENV, check=True, capture_output=True,
                          text=True, timeout=30).stdout
    values = [int(v, 16) for v in re.findall(r"0x[0-9a-fA-F]+", text)]
    return (values[1], values[2]) if len(values) >= 3 else None


def geometry(x_id):
    """(left, top, width, height) of an X window on the screen."""
    text = subprocess.run(["xwininfo", "-id", x_id], env=ENV, check=True, capture_output=True, text=True,
                          timeout=30).stdout
    found = dict(re.findall(r"(Absolute upper-left X|Absolute upper-left Y|Width|Height): +(-?\d+)", text))
    return tuple(int(found[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


def frame_extents(x_id):
    """(left, right, top, bottom) as the window manager last set _NET_FRAME_EXTENTS."""
    text = subprocess.run(["xprop", "-id", x_id, "_NET_FRAME_EXTENTS"], env=ENV, check=True, capture_output=True,
                          text=True, timeout=30).stdout
    values = tuple(int(v) for v in re.findall(r"\d+", text.split("=", 1)[-1]))
    return values if len(values) == 4 else (0, 0, 0, 0)


def drawn_frame(x_id, measure="parent"):
    """(left, right, top, bottom): what the window manager draws round the
    window, measured between it and the frame window it put it in (a
    window manager's _NET_FRAME_EXTENTS may stay as they were: mutter's do),
    or with measure "extents", by _NET_FRAME_EXTENTS."""
    if measure == "extents":
        return frame_extents(x_id)
    frame = x_id
    while True:
        tree = subprocess.run(["xwininfo", "-tree", "-id", frame], env=ENV, check=True, capture_output=True,
                              text=True, timeout=30).stdout
        parent = re.search(r"Parent window id: (0x[0-9a-f]+)( \(the root window\))?", tree)
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


class WindowManagerTest(DesktopTest):
    window_manager = "openbox"
    frame_measure = "parent"
    screen_unreadable = None

    @classmethod
    def setUpClass(cls):
        """Puts the class's window manager in charge of the session's display
        (a Wayland compositor's is a display of its own)."""
        run = subprocess.run([str(DESKTOP_SCRIPT), "window-manager", str(SESSION_STATE), cls.window_manager],
                             capture_output=True, text=True, timeout=180)
        if run.returncode == SKIPPED:
            if required(cls.window_manager):
                raise AssertionError(f"{cls.window_manager} cannot start here, and this run requires it "
                                     f"(FRAMELATCH_REQUIRED_WINDOW_MANAGERS): {run.stderr.strip()}")
            raise unittest.SkipTest(run.stderr.strip())
        if run.returncode != 0:
            raise AssertionError(f"{cls.window_manager} did not start: {run.stderr}")
        ENV.clear()
        ENV.update(session_env())

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
        last = [None]

        def settled():
            now = self.window(target["hwnd"], "Dusk Vein")
            same = now == last[0] and now["style"] == style
            last[0] = now
            return now if same else None
        return wait_until(settled, what="the stand-in to settle")

    def placed_fltx(self):
        """Starts FLTX and returns it once the window manager has placed it."""
        _, fltx = self.start_fltx()
        last = [None]

        def settled():
            now = self.window(fltx["hwnd"])
            same = last[0] is not None and now["screenRect"] == last[0]["screenRect"]
            last[0] = now
            return now if same else None
        return wait_until(settled, what="FLTX to settle")

    def settled_fltx(self):
        """FLTX once placed, and made active as a press would, so the target's
        title bar looks inactive from then on."""
        fltx = self.placed_fltx()
        xdotool("windowactivate", x_window("FLTX", "framelatch.exe"))
        fltx = wait_until(lambda: (lambda w: w if w["active"] else None)(self.window(fltx["hwnd"])),
                          what="FLTX to be active")
        # The pointer reaches FLTX's buttons once Min's tooltip shows: a window
        # manager may keep the first click after an activation (KWin does).
        xdotool("mousemove", *centre(self.button(fltx, COMMAND1)["screenRect"]))
        wait_until(lambda: any(t["owner"] == fltx["hwnd"] and t["visible"] for t in probe("tooltips")),
                   what="Min's tooltip")
        return fltx


class TargetFrameUnderTheWindowManager:
    """What TB and Min do to a target whose frame the window manager draws."""

    def wait_for_hints(self, x_id, test, what):
        return wait_until(lambda: (lambda hints: hints if hints and test(*hints) else None)(motif_hints(x_id)),
                          what=what)

    def check_tb(self, style, kind):
        target = self.settled_target(style=style)
        fltx = self.settled_fltx()
        x_id = x_window("Dusk Vein")
        _, decorations = self.wait_for_hints(x_id, lambda _, decorations: decorations & MWM_DECOR_TITLE,
                                             "a title decoration")
        frame = wait_until(lambda: (lambda f: f if f[2] > 0 else None)(self.drawn_frame(x_id)),
                           what="the window manager to draw a title bar")
        reads_screen = self.screen_check()
        if reads_screen:
            where = title_bar_point(x_id, frame)
            title_bar = pixel(*where)
        shots = f"wm-{self.window_manager}-{kind}"
        self.screenshot(f"{shots}-1-before.png", screen_area(target, 50))

        self.press(fltx, COMMAND2)
        self.wait_for_style(target, style & ~WS_CAPTION)
        _, without_title = self.wait_for_hints(x_id, lambda _, decorations: not decorations & MWM_DECOR_TITLE,
                                               "the title decoration to go")
        # Wine gives the title bar's room to the client area, in its place.
        wait_until(lambda: self.window(target["hwnd"], "Dusk Vein")["clientSize"][1] > target["clientSize"][1],
                   what="the client area to grow")
        title_bar_back = lambda: True
        if style & WS_THICKFRAME:
            # Wine asks for the border and the sizing handles still, and the
            # window manager keeps its whole frame, title bar and all.
            self.assertNotEqual(without_title, 0)
            wait_until(lambda: self.drawn_frame(x_id) == frame and (
                       not reads_screen or pixel(*title_bar_point(x_id, frame)) == title_bar),
                       what=f"the title bar to be drawn still (frame {self.drawn_frame(x_id)}, was {frame})")
            if reads_screen:
                title_bar_back = lambda: pixel(*title_bar_point(x_id, frame)) == title_bar
        else:
            # Wine asks for no frame, and the window manager draws none.
            self.assertEqual(without_title, 0)
            wait_until(lambda: self.drawn_frame(x_id) == (0, 0, 0, 0),
                       what=f"no frame (now {self.drawn_frame(x_id)})")
            if reads_screen:
                wait_until(lambda: pixel(*where) != title_bar, what="the title bar to go from the screen")
                # The window's own contents where the title bar was; when it
                # comes back, mutter may draw it as the active window's.
                contents = pixel(*where)
                title_bar_back = lambda: pixel(*title_bar_point(x_id, frame)) != contents
        self.screenshot(f"{shots}-2-after-TB.png", screen_area(target, 50))

        self.press(fltx, COMMAND2)
        self.wait_for_style(target, style)
        self.wait_for_hints(x_id, lambda _, now: now == decorations, "the decorations to come back")
        wait_until(lambda: self.drawn_frame(x_id) == frame and title_bar_back(),
                   what=f"the title bar to come back (frame {self.drawn_frame(x_id)}, was {frame})")

    def test_tb_on_a_resizable_target(self):
        self.check_tb(RESIZABLE, "resizable")

    def test_tb_on_a_fixed_size_target(self):
        self.check_tb(FIXED_SIZE, "fixed-size")

    def test_minimize_function_goes_with_the_box_and_comes_back(self):
        target = self.settled_target()
        fltx = self.settled_fltx()
        x_id = x_window("Dusk Vein")
        self.wait_for_hints(x_id, lambda functions, _: functions & MWM_FUNC_MINIMIZE, "a minimize function")

        writes = probe("style-changes", target["hwnd"])
        self.press(fltx, COMMAND1)                      # Set: the box the target has stays
        wait_until(lambda: probe("style-changes", target["hwnd"]) > writes, what="the first write")
        self.press(fltx, COMMAND1)                      # Flip: it goes
        self.wait_for_style(target, FULL_FRAME & ~WS_MINIMIZEBOX)
        self.wait_for_hints(x_id, lambda functions, _: not functions & MWM_FUNC_MINIMIZE,
                            "the minimize function to go")
        self.screenshot(f"wm-{self.window_manager}-3-after-Min-Min.png", screen_area(target))

        self.press(fltx, COMMAND1)                      # Set: it comes back
        self.wait_for_style(target, FULL_FRAME)
        self.wait_for_hints(x_id, lambda functions, _: functions & MWM_FUNC_MINIMIZE,
                            "the minimize function to come back")


# One test class for each window manager, named after it: UnderMutter, ...
for _name, (_title, _measure, _unreadable) in WINDOW_MANAGERS.items():
    globals()[f"Under{_title}"] = type(f"Under{_title}", (TargetFrameUnderTheWindowManager, WindowManagerTest),
                                       {"window_manager": _name, "frame_measure": _measure,
                                        "screen_unreadable": _unreadable})


class WithWineDecorations(WindowManagerTest):
    """Wine draws the frames itself (winecfg: the window manager does not
    decorate them), under openbox: the window manager only places the windows."""

    def set_decorated(self, value):
        set_registry_value(X11_DRIVER_KEY, "Decorated", value)

    def undecorated_target_and_fltx(self, redraw=True):
        """The stand-in in a frame Wine draws, and FLTX; also a point in the
        stand-in's title bar, the colour of its client area, and the caption's height."""
        self.set_decorated("N")
        self.addCleanup(self.set_decorated, "Y")
        caption = probe("caption-height")
        target = self.settled_target(redraw=redraw)
        _, fltx = self.start_fltx()
        left, top, right, bottom = target["screenRect"]
        title_bar = ((left + right) // 2, top + caption // 2 + 2)
        background = probe("system-colour", COLOR_WINDOW)
        wait_until(lambda: pixel(right - 20, bottom - 20) == background, what=f"the stand-in's {background} drawn")
        return target, fltx, title_bar, background, caption

    def test_tb_takes_the_title_bar_off_the_screen_and_brings_it_back(self):
        target, fltx, title_bar, client_background, caption = self.undecorated_target_and_fltx()
        x_id = x_window("Dusk Vein")
        self.assertEqual(motif_hints(x_id)[1], 0, "the window manager is asked to draw no frame of its own")
        (width, height), origin = target["clientSize"], target["clientOrigin"]
        self.assertNotEqual(pixel(*title_bar), client_background, "a title bar is drawn")
        screenshot(SHOTS / "wm-undecorated-1-before.png", screen_area(target))

        self.press(fltx, COMMAND2)
        after = wait_until(lambda: (lambda w: w if w["clientSize"] != [width, height] else None)(
            self.window(target["hwnd"], "Dusk Vein")), what="the client area to change")
        self.assertEqual(after["screenRect"], target["screenRect"], "the window keeps its place and size")
        grown_width, grown_height = after["clientSize"][0] - width, after["clientSize"][1] - height
        # The title bar's height goes to the client area, and so does the thin
        # border that went with it, on every side alike.
        self.assertEqual(grown_height, caption + grown_width)
        self.assertEqual(origin[1] - after["clientOrigin"][1], caption + grown_width // 2)
        wait_until(lambda: pixel(*title_bar) == client_background, what="the title bar to go from the screen")
        screenshot(SHOTS / "wm-undecorated-2-after-TB.png", screen_area(target))

        self.press(fltx, COMMAND2)
        wait_until(lambda: self.window(target["hwnd"], "Dusk Vein")["clientSize"] == [width, height],
                   what="the client area to shrink back")
        wait_until(lambda: pixel(*title_bar) != client_background, what="the title bar to come back on the screen")

    def test_a_target_that_does_not_redraw_loses_its_title_bar_at_a_minimize_and_restore(self):
        # Most programs leave their frame alone when their style changes, and a
        # game window often has neither a sizing border nor a maximize button:
        # the guides' way is then a minimize and a restore (Win+D twice). Here
        # the window manager does both, as from a taskbar. (openbox's Show
        # desktop hides windows without minimizing them, so Wine sees nothing.)
        target, fltx, title_bar, client_background, _ = self.undecorated_target_and_fltx(redraw=False)
        self.press(fltx, COMMAND2)
        self.wait_for_style(target, FULL_FRAME & ~WS_CAPTION)
        unchanged = self.assert_handled_without_recalculation(target, target["clientSize"])
        self.assertEqual(unchanged["clientOrigin"], target["clientOrigin"], "the frame is recalculated at once")
        self.assertNotEqual(pixel(*title_bar), client_background, "the title bar is still on the screen")
        screenshot(SHOTS / "wm-no-redraw-1-after-TB.png", screen_area(target))

        x_id = x_window("Dusk Vein")
        xdotool("windowminimize", x_id)
        wait_until(lambda: self.window(target["hwnd"], "Dusk Vein")["iconic"], what="the minimize")
        xdotool("windowactivate", x_id)
        restored = wait_until(lambda: (lambda w: w if not w["iconic"] and w["visible"] else None)(
            self.window(target["hwnd"], "Dusk Vein")), what="the restore")
        self.assertGreater(restored["clientSize"][1], target["clientSize"][1], "the title bar's room is client area")
        wait_until(lambda: pixel(*title_bar) == client_background, what="the title bar to go from the screen")
        screenshot(SHOTS / "wm-no-redraw-2-after-minimize-and-restore.png", screen_area(target))


class FramesUnderWineWaylandDriver:
    """Wine's own Wayland driver: Wine draws every frame itself, as on Windows,
    and there is no X display, so FLTX is pressed with Win32 input from the
    probe. A target's frame changes when the target recalculates it, resizable
    or not: at once for one that redraws, at its next recalculation for one
    that does not."""

    def press(self, window, control_id):
        probe("click", *centre(self.button(window, control_id)["screenRect"]))

    def placed(self, window, title):
        """Where the compositor shows `window` (titled `title`) on the screen, as
        (left, top, right, bottom): a Wayland client never learns its place, so
        Wine's own rectangles only say the window's size. Read from GNOME Shell."""
        left, top, right, bottom = window["screenRect"]
        answer = subprocess.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                                 "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval",
                                 "global.display.list_all_windows().filter(w => w.get_title() === "
                                 f"{json.dumps(title)}).map(w => {{ const r = w.get_frame_rect(); "
                                 "return [r.x, r.y, r.width, r.height]; })"],
                                env=ENV, check=True, capture_output=True, text=True, timeout=30).stdout
        found = re.fullmatch(r"\(true, '(.*)'\)\s*", answer)
        self.assertTrue(found, f"GNOME Shell answered {answer!r}")
        places = json.loads(found.group(1))
        self.assertEqual(len(places), 1, f"one window titled {title!r} on the screen")
        x, y, width, height = places[0]
        self.assertEqual((width, height), (right - left, bottom - top), "the window's size as Wine has it")
        return x, y, x + width, y + height

    def settled_fltx(self):
        return self.placed_fltx()

    def check_tb(self, style, redraw):
        caption = probe("caption-height")
        target = self.settled_target(style=style, redraw=redraw)
        fltx = self.settled_fltx()
        reads_screen = self.screen_check()
        if reads_screen:
            left, top, right, bottom = place = self.placed(target, "Dusk Vein")
            title_bar, inside = ((left + right) // 2, top + caption // 2 + 2), (right - 20, bottom - 20)
            # The stand-in paints its client area in the window colour: once the
            # screen shows that, the compositor has drawn the window.
            background = probe("system-colour", COLOR_WINDOW)
            wait_until(lambda: pixel(*inside) == background, what=f"the stand-in's {background} on the screen")
            wait_until(lambda: pixel(*title_bar) != background, what="a title bar on the screen")
        shots = f"{self.window_manager}-{'resizable' if style & WS_THICKFRAME else 'fixed-size'}"
        shots += "" if redraw else "-no-redraw"

        def shoot(name):
            if reads_screen:
                self.screenshot(f"{shots}-{name}.png", screen_area({"screenRect": place}))
        shoot("1-before")

        def client_size():
            return self.window(target["hwnd"], "Dusk Vein")["clientSize"]
        size = client_size()
        self.press(fltx, COMMAND2)
        self.wait_for_style(target, style & ~WS_CAPTION)
        if not redraw:
            # Nothing changes until the target recalculates its frame, as on
            # Windows: read once it has handled the style change.
            self.assert_handled_without_recalculation(target, size)
            if reads_screen:
                self.assertNotEqual(pixel(*title_bar), background, "the title bar left the screen at once")
            shoot("2-after-TB")
            probe("recalculate-frame", target["hwnd"])
        grown = wait_until(lambda: (lambda now: now if now != size else None)(client_size()),
                           what="the client area to grow")
        # The title bar's height goes to the client area, with the thin border that went with it.
        self.assertEqual(grown[1] - size[1], caption + grown[0] - size[0])
        if reads_screen:
            wait_until(lambda: pixel(*title_bar) == background, what="the title bar to go from the screen")
        shoot(f"3-after-TB{'' if redraw else '-and-recalculation'}")

        self.press(fltx, COMMAND2)
        self.wait_for_style(target, style)
        if not redraw:
            probe("recalculate-frame", target["hwnd"])
        wait_until(lambda: client_size() == size, what="the title bar to come back")
        if reads_screen:
            wait_until(lambda: pixel(*title_bar) != background, what="the title bar to come back on the screen")

    def test_fltx_runs_with_no_x_display_and_opens_where_the_compositor_places_it(self):
        self.assertNotIn("DISPLAY", ENV, "an X display to fall back on")
        self.assertTrue(ENV.get("WAYLAND_DISPLAY"))
        target = self.settled_target()
        fltx = self.settled_fltx()
        if self.screen_check():
            # GNOME Shell puts each new window in the middle of the screen
            # below its top bar, whatever place Wine asked for: FLTX over the game.
            target_centre, fltx_centre = centre(self.placed(target, "Dusk Vein")), centre(self.placed(fltx, "FLTX"))
            self.assertNotEqual(fltx["screenRect"][:2], self.placed(fltx, "FLTX")[:2], "FLTX is where Wine put it")
            for target_at, fltx_at in zip(target_centre, fltx_centre):
                self.assertLessEqual(abs(target_at - fltx_at), 1, f"FLTX at {fltx_centre}, the target at {target_centre}")

    def test_tb_on_a_resizable_target_that_redraws_at_once(self):
        self.check_tb(RESIZABLE, redraw=True)

    def test_tb_on_a_fixed_size_target_that_does_not_redraw_takes_effect_at_its_next_recalculation(self):
        self.check_tb(FIXED_SIZE, redraw=False)

    def test_tb_on_a_resizable_target_that_does_not_redraw_takes_effect_at_its_next_recalculation(self):
        self.check_tb(RESIZABLE, redraw=False)


for _name, (_title, _unreadable) in WINE_WAYLAND_DRIVER.items():
    globals()[f"Under{_title}"] = type(f"Under{_title}", (FramesUnderWineWaylandDriver, WindowManagerTest),
                                       {"window_manager": _name, "screen_unreadable": _unreadable})


if __name__ == "__main__":
    unittest.main()
