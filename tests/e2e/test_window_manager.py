"""Framelatch beside the stand-in under a real window manager (openbox), with
Wine in its default managed mode, as on a Linux desktop: what Wine tells the
window manager about the target's frame, and what the user sees."""
import re
import subprocess
import unittest

from harness import (BIN, COMMAND1, COMMAND2, ENV, FULL_FRAME, WS_CAPTION, WS_MINIMIZEBOX, DesktopTest,
                     probe, screenshot, set_registry_value, wait_until, xdotool)

# _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
MWM_FUNC_MINIMIZE = 0x08
MWM_DECOR_TITLE = 0x08
SHOTS = BIN / "screenshots"
X11_DRIVER_KEY = r"HKCU\Software\Wine\X11 Driver"


def x_window(title):
    """The X window that Wine made for the top-level window titled `title`."""
    def find():
        found = subprocess.run(["xdotool", "search", "--name", f"^{re.escape(title)}$"], env=ENV,
                               capture_output=True, text=True, timeout=30).stdout.split()
        return found[0] if len(found) == 1 else None
    return wait_until(find, what=f"one X window named {title!r}")


def motif_hints(x_id):
    """(functions, decorations) as Wine last told the window manager."""
    text = subprocess.run(["xprop", "-id", x_id, "_MOTIF_WM_HINTS"], env=ENV, check=True, capture_output=True,
                          text=True, timeout=30).stdout
    values = [int(v, 16) for v in re.findall(r"0x[0-9a-fA-F]+", text)]
    return (values[1], values[2]) if len(values) >= 3 else None


def pixel(x, y):
    """The colour the screen shows at (x, y), as ImageMagick names it in hex."""
    text = subprocess.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "txt:-"], env=ENV, check=True,
                          capture_output=True, text=True, timeout=60).stdout
    return re.search(r"#[0-9A-Fa-f]+", text).group(0)


def screen_area(window, margin=30):
    """An import crop around a window and the frame a window manager puts round it."""
    left, top, right, bottom = window["screenRect"]
    left, top = max(left - margin, 0), max(top - margin, 0)
    return f"{right - left + margin}x{bottom - top + margin}+{left}+{top}"


class WindowManagerTest(DesktopTest):
    def settled_target(self, redraw=True):
        """Starts the stand-in and returns it once the window manager has placed
        it: two readings in a row agree, with its whole frame shown."""
        _, target = self.start_target(redraw=redraw)
        last = [None]

        def settled():
            now = self.window(target["hwnd"], "Dusk Vein")
            same = now == last[0] and now["style"] == FULL_FRAME
            last[0] = now
            return now if same else None
        return wait_until(settled, what="the stand-in to settle")


class UnderAWindowManager(WindowManagerTest):
    def wait_for_hints(self, x_id, test, what):
        return wait_until(lambda: (lambda hints: hints if hints and test(*hints) else None)(motif_hints(x_id)),
                          what=what)

    def test_title_bar_decoration_goes_with_tb_and_comes_back(self):
        target = self.settled_target()
        _, fltx = self.start_fltx()
        x_id = x_window("Dusk Vein")
        self.wait_for_hints(x_id, lambda _, decorations: decorations & MWM_DECOR_TITLE, "a title decoration")
        screenshot(SHOTS / "wm-1-before.png", screen_area(target))

        self.press(fltx, COMMAND2)
        self.wait_for_style(target, FULL_FRAME & ~WS_CAPTION)
        self.wait_for_hints(x_id, lambda _, decorations: not decorations & MWM_DECOR_TITLE,
                            "the title decoration to go")
        screenshot(SHOTS / "wm-2-after-TB.png", screen_area(target))

        self.press(fltx, COMMAND2)
        self.wait_for_style(target, FULL_FRAME)
        self.wait_for_hints(x_id, lambda _, decorations: decorations & MWM_DECOR_TITLE,
                            "the title decoration to come back")

    def test_minimize_function_goes_with_the_box_and_comes_back(self):
        target = self.settled_target()
        _, fltx = self.start_fltx()
        x_id = x_window("Dusk Vein")
        self.wait_for_hints(x_id, lambda functions, _: functions & MWM_FUNC_MINIMIZE, "a minimize function")

        self.press(fltx, COMMAND1)                      # Set: the box the target has stays
        self.press(fltx, COMMAND1)                      # Flip: it goes
        self.wait_for_style(target, FULL_FRAME & ~WS_MINIMIZEBOX)
        self.wait_for_hints(x_id, lambda functions, _: not functions & MWM_FUNC_MINIMIZE,
                            "the minimize function to go")
        screenshot(SHOTS / "wm-3-after-Min-Min.png", screen_area(target))

        self.press(fltx, COMMAND1)                      # Set: it comes back
        self.wait_for_style(target, FULL_FRAME)
        self.wait_for_hints(x_id, lambda functions, _: functions & MWM_FUNC_MINIMIZE,
                            "the minimize function to come back")


class WithWineDecorations(WindowManagerTest):
    """Wine draws the frames itself (winecfg: the window manager does not decorate them)."""

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
        return target, fltx, title_bar, pixel(right - 20, bottom - 20), caption

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
        unchanged = self.window(target["hwnd"], "Dusk Vein")
        self.assertEqual((unchanged["clientSize"], unchanged["clientOrigin"]),
                         (target["clientSize"], target["clientOrigin"]), "the frame is recalculated at once")
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

if __name__ == "__main__":
    unittest.main()
