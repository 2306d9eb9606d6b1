"""Wine's own Wayland driver under GNOME Shell and KWin, with no X at all, as
players turn it on (Heroic's "Enable Wine-Wayland (Experimental)", GE-Proton's
PROTON_ENABLE_WAYLAND=1): Wine draws every frame itself, as on Windows."""
import json
import re
import subprocess
import time
import unittest
from pathlib import Path

from harness import COMMAND2, ENV, WS_CAPTION, WS_THICKFRAME, centre, probe
from desktop import gnome_shell_eval
from window_manager import COLOR_WINDOW, FIXED_SIZE, RESIZABLE, WindowManagerTest, pixel, screen_area, wait_until

# Wine's Wayland driver's entries: test class name, compositor, and why the
# screen cannot be read back under it (None where it can).
WINE_WAYLAND_DRIVER = {
    "gnome-shell-winewayland": ("GnomeShellWineWayland", None),
    "kwin-winewayland": ("KWinWineWayland", "KWin's virtual backend composites with QPainter here and offers no "
                         "screenshot interface (org.kde.KWin.ScreenShot2 is absent): the frames are read as Wine "
                         "computes them"),
}


class FramesUnderWineWaylandDriver:
    """Wine's own Wayland driver: Wine draws every frame itself, as on Windows,
    and there is no X display, so FLTX is pressed with Win32 input from the
    probe (clicks through GNOME Shell's own pointer did not reach FLTX reliably
    enough for a test; the guides say what was measured that way). A target's
    frame changes when the target recalculates it, resizable or not: at once
    for one that redraws, at its next recalculation for one that does not. Of
    a player's ways to have it recalculated, the compositor's maximize works;
    its minimize and restore never reach Wine, and Wine's own minimize is
    undone by nothing the desktop offers."""

    def press(self, window, control_id):
        probe("click", *centre(self.button(window, control_id)["screenRect"]))

    def placed(self, window, title):
        """Where the compositor shows `window` (titled `title`) on the screen, as
        (left, top, right, bottom): a Wayland client never learns its place, so
        Wine's own rectangles only say the window's size. Read from GNOME Shell."""
        left, top, right, bottom = window["screenRect"]
        answer = gnome_shell_eval(f"global.display.list_all_windows().filter(w => w.get_title() === "
                                  f"{json.dumps(title)}).map(w => {{ const r = w.get_frame_rect(); "
                                  "return [r.x, r.y, r.width, r.height]; })")
        self.assertIsNotNone(answer, "GNOME Shell did not answer")
        places = json.loads(answer)
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
        grown = wait_until(client_size, lambda now: now != size, what="the client area to grow")
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

    def compositor(self, action):
        """Has the compositor do `action` to the target's window as a player has it
        done from the desktop: "minimize" (GNOME's Super+H, KDE's window menu),
        "activate" (a click in the dock or taskbar, Alt+Tab), "maximize" (GNOME's
        Super+Up, KDE's Meta+PgUp) or "close" (the window's x in GNOME's overview,
        Close in KDE's task bar). Through GNOME Shell's own JavaScript, or a
        KWin script over D-Bus: the same calls its shortcuts and task bars make.
        Returns whether GNOME Shell has the window minimized then (None under KWin,
        whose scripts answer nothing: the maximize test shows that they act)."""
        if self.window_manager.startswith("gnome-shell"):
            script = {"minimize": "w.minimize()", "activate": "Main.activateWindow(w)",
                      "maximize": "w.maximize(imports.gi.Meta.MaximizeFlags.BOTH)",
                      "close": "w.delete(global.get_current_time())"}[action]
            answer = gnome_shell_eval(f"(() => {{ const w = global.display.list_all_windows().find(w => "
                                      f"w.get_title() === 'Dusk Vein'); {script}; return w.minimized; }})()")
            self.assertIn(answer, ("true", "false"), "GNOME Shell's answer")
            return answer == "true"
        script = {"minimize": "w.minimized = true;", "activate": "w.minimized = false; workspace.activeWindow = w;",
                  "maximize": "w.setMaximize(true, true);", "close": "w.closeWindow();"}[action]
        path = Path(ENV["FRAMELATCH_SESSION_ROOT"], f"{action}.js")
        path.write_text(f"for (const w of workspace.windowList()) if (w.caption === 'Dusk Vein') {{ {script} }}")
        # A script's name is its own: each call loads one of a name not used before.
        loaded = gdbus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.loadScript", str(path),
                       f"framelatch-{action}-{time.monotonic_ns()}")
        number = re.fullmatch(r"\((\d+),\)\s*", loaded)
        self.assertTrue(number, f"KWin did not load the script: {loaded!r}")
        # KWin 6 names a loaded script /Scripting/ScriptN, KWin 5 /N.
        for path in (f"/Scripting/Script{number.group(1)}", f"/{number.group(1)}"):
            try:
                gdbus("org.kde.KWin", path, "org.kde.kwin.Script.run")
                return None
            except subprocess.CalledProcessError as error:
                failure = error.stderr
        self.fail(f"KWin did not run the script: {failure}")

    def assert_compositor_has_it(self, minimized, expected, what):
        """Checks the compositor's own word on the window, where it gives one: a
        KWin script answers nothing over D-Bus, so there the check is a skip."""
        with self.subTest(f"the compositor has it {what}"):
            if minimized is None:
                self.skipTest("KWin's scripts answer nothing over D-Bus: whether KWin has it minimized cannot be read")
            self.assertEqual(minimized, expected, f"the compositor's own word: {what}")

    def target_after_no_redraw_tb(self, style):
        """The stand-in, told not to redraw, once TB has taken WS_CAPTION off it and
        it has handled that: its title bar still on the screen."""
        target = self.settled_target(style=style, redraw=False)
        self.press(self.settled_fltx(), COMMAND2)
        self.wait_for_style(target, style & ~WS_CAPTION)
        return self.assert_handled_without_recalculation(target, target["clientSize"])

    def test_the_compositors_minimize_and_restore_never_reach_wine_and_leave_the_title_bar(self):
        target = self.target_after_no_redraw_tb(FIXED_SIZE)
        self.assert_compositor_has_it(self.compositor("minimize"), True, "minimized")
        self.assert_compositor_has_it(self.compositor("activate"), False, "minimized after it brought it back")
        # Wine never hears of either: the window was never iconic, and its frame stays as it was.
        self.assertFalse(self.assert_handled_without_recalculation(target, target["clientSize"])["iconic"])

    def test_wines_own_minimize_is_not_undone_by_the_compositor_but_its_close_ends_the_game(self):
        # What Wine's minimize button or its system menu sends: Wine minimizes the
        # window, and the desktop's restore does not bring it back. The guides'
        # way out: close it from the desktop and start it again.
        target = self.target_after_no_redraw_tb(FIXED_SIZE)
        probe("minimize", target["hwnd"])
        wait_until(lambda: self.window(target["hwnd"], "Dusk Vein")["iconic"], what="Wine's minimize")
        self.assert_compositor_has_it(self.compositor("activate"), False, "minimized after it brought it back")
        self.assertTrue(probe("ping", target["hwnd"]))
        self.assertTrue(self.window(target["hwnd"], "Dusk Vein")["iconic"], "restored from the desktop")
        self.compositor("close")
        wait_until(lambda: self.window(target["hwnd"], "Dusk Vein") is None, what="the desktop's close")
        again = self.settled_target()
        self.assertFalse(again["iconic"])
        if self.screen_check():
            self.placed(again, "Dusk Vein")

    def test_tb_on_a_resizable_target_that_does_not_redraw_takes_effect_at_the_compositors_maximize(self):
        caption = probe("caption-height")
        target = self.target_after_no_redraw_tb(RESIZABLE)
        self.compositor("maximize")
        maximized = wait_until(lambda: self.window(target["hwnd"], "Dusk Vein"), lambda w: w["zoomed"],
                               what="the maximize")
        # Its frame recalculated: the client area starts below a border, with no title bar above it.
        self.assertLess(maximized["clientOrigin"][1] - maximized["screenRect"][1], caption)

    def test_tb_on_a_resizable_target_that_redraws_at_once(self):
        self.check_tb(RESIZABLE, redraw=True)

    def test_tb_on_a_fixed_size_target_that_does_not_redraw_takes_effect_at_its_next_recalculation(self):
        self.check_tb(FIXED_SIZE, redraw=False)

    def test_tb_on_a_resizable_target_that_does_not_redraw_takes_effect_at_its_next_recalculation(self):
        self.check_tb(RESIZABLE, redraw=False)


def gdbus(destination, path, method, *arguments):
    """Calls a method on the session bus of the test run's desktop; returns its answer."""
    return subprocess.run(["gdbus", "call", "--session", "--dest", destination, "--object-path", path, "--method",
                           method, *arguments], env=ENV, check=True, capture_output=True, text=True,
                          timeout=30).stdout


for _name, (_title, _unreadable) in WINE_WAYLAND_DRIVER.items():
    globals()[f"Under{_title}"] = type(f"Under{_title}", (FramesUnderWineWaylandDriver, WindowManagerTest),
                                       {"window_manager": _name, "screen_unreadable": _unreadable})


if __name__ == "__main__":
    unittest.main()
