"""Wine's own Wayland driver under GNOME Shell and KWin, with no X at all, as
players turn it on (Heroic's "Enable Wine-Wayland (Experimental)", GE-Proton's
PROTON_ENABLE_WAYLAND=1): Wine draws every frame itself, as on Windows."""
import json
import re
import subprocess
import unittest

from harness import COMMAND2, ENV, WS_CAPTION, WS_THICKFRAME, centre, probe
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
