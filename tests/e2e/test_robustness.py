"""Framelatch.exe under load and under awkward conditions: thousands of presses,
a target that comes and goes or hangs, other code pages, and other DPIs."""
import re
import subprocess
import unittest
from pathlib import Path

from harness import (BIN, COMMAND1, COMMAND2, ENV, FULL_FRAME, NOT_RUNNING, TOOLTIP_MIN, TOOLTIP_TB, WS_CAPTION,
                     WS_MINIMIZEBOX, DesktopTest, key, probe, run_wine_tool, set_registry_value, wait_until)
from wine_session import restart_wine_server, screenshot

NO_TITLE_BAR = FULL_FRAME & ~WS_CAPTION
NO_MIN_BOX = FULL_FRAME & ~WS_MINIMIZEBOX
SHOTS = BIN / "screenshots"


def crop_of(window):
    """The screen crop ("WxH+X+Y") of a window as the probe reported it."""
    left, top, right, bottom = window["screenRect"]
    return f"{right - left}x{bottom - top}+{left}+{top}"


def private_kib(pid):
    """Private memory the kernel has given the Wine process, in KiB: the private
    pages of its mappings (Private_Clean + Private_Dirty in smaps_rollup)."""
    fields = {}
    for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines()[1:]:
        name, value = line.split(":", 1)
        fields[name] = int(value.split()[0])
    return fields["Private_Clean"] + fields["Private_Dirty"]


class ManyPresses(DesktopTest):
    def test_two_thousand_alternating_presses(self):
        _, target = self.start_target()
        program, fltx = self.start_fltx()

        # Warm up, then measure: an even number of presses of each leaves both flags true.
        self.assertEqual(probe("press-loop", fltx["hwnd"], target["hwnd"], 200)["mismatches"], 0)
        windows_before = probe("window-count", fltx["pid"])
        memory_before = private_kib(program.process.pid)

        result = probe("press-loop", fltx["hwnd"], target["hwnd"], 2000)

        memory_after = private_kib(program.process.pid)
        self.assertEqual(result["mismatches"], 0, f"first wrong style after press {result['firstMismatch']}")
        self.assertEqual(result["finalStyle"], NO_MIN_BOX, "an even number of Min presses ends with the box off")
        self.assertTrue(program.running())
        self.assertTrue(probe("ping", fltx["hwnd"]), "FLTX must still answer")
        self.assertEqual(probe("window-count", fltx["pid"]), windows_before, "windows piled up")
        self.assertLessEqual(memory_after - memory_before, 256,
                             f"private memory grew from {memory_before} to {memory_after} KiB")


class TargetComesAndGoes(DesktopTest):
    def test_each_press_finds_the_present_target_and_flags_carry_over(self):
        _, fltx = self.start_fltx()
        target_program, target = self.start_target()
        self.press(fltx, COMMAND2)                      # TB: Flip, flag false
        self.wait_for_style(target, NO_TITLE_BAR)

        for _ in range(3):
            target_program.stop()
            self.press(fltx, COMMAND2)                  # no target: warning, flag kept
            self.close_warning(fltx)
            target_program, target = self.start_target()
            self.press(fltx, COMMAND2)                  # TB: Set; the new target keeps its bar
            wait_until(lambda: probe("style-changes", target["hwnd"]) == 1, what="the write")
            self.assertEqual(self.target_style(target), FULL_FRAME)
            self.press(fltx, COMMAND2)                  # TB: Flip
            self.wait_for_style(target, NO_TITLE_BAR)

        target_program.stop()
        self.press(fltx, COMMAND1)
        self.close_warning(fltx)
        _, target = self.start_target(style=NO_MIN_BOX)
        self.press(fltx, COMMAND1)                      # Min: still Set after the warning
        self.wait_for_style(target, FULL_FRAME)


class HungTarget(DesktopTest):
    def test_fltx_waits_for_a_hung_target_and_recovers_with_one_write(self):
        _, target = self.start_target()
        _, fltx = self.start_fltx()

        self.assertTrue(probe("hang", target["hwnd"], 6000))
        wait_until(lambda: not probe("ping", target["hwnd"]), what="the target to stop answering")
        self.press(fltx, COMMAND2)
        self.assertEqual(self.target_style(target), FULL_FRAME, "no write can land while the target hangs")

        self.wait_for_style(target, NO_TITLE_BAR)       # the target answers again and the write lands
        wait_until(lambda: probe("ping", fltx["hwnd"]), what="FLTX to answer")
        self.assertEqual(probe("style-changes", target["hwnd"]), 1, "the press must take effect exactly once")
        self.press(fltx, COMMAND2)                      # and FLTX takes presses again
        self.wait_for_style(target, FULL_FRAME)


class CodePages(DesktopTest):
    def check_texts_under(self, lang, code_page):
        env = dict(ENV, LANG=lang, LC_ALL=lang)
        self.assertEqual(probe("code-page", env=env), code_page, f"{lang} should run with code page {code_page}")
        # An answer that cannot be written fails the probe, with its reason.
        with open("/dev/full", "w") as full:
            run = subprocess.run([env["WINELOADER"], BIN / "probe.exe", "code-page"], env=env, stdout=full,
                                 stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertEqual((run.returncode, "its answer could not be written" in run.stderr), (3, True), run.stderr)

        program, fltx = self.start_fltx(env=env)
        # Pictures of the Japanese as a player sees it in a plain prefix, to look at.
        locale = lang.split(".")[0]
        for control_id, text, name in ((COMMAND1, TOOLTIP_MIN, "Min"), (COMMAND2, TOOLTIP_TB, "TB")):
            screenshot(SHOTS / f"tooltip-{name}-{locale}.png", crop_of(self.tooltip_of(fltx, control_id, text)))

        self.press(fltx, COMMAND2)
        box = wait_until(lambda: self.box_of(fltx), what=f"the warning under {lang}")
        self.assertEqual((box["message"], box["text"]), (NOT_RUNNING, "Framelatch"))
        screenshot(SHOTS / f"warning-{locale}.png", crop_of(box))
        key("Return")
        wait_until(lambda: self.box_of(fltx) is None, what="the warning to close")

        _, target = self.start_target()                 # the ANSI lookup finds it in this code page too
        self.press(fltx, COMMAND2)
        self.wait_for_style(target, NO_TITLE_BAR)
        self.stop_programs()
        self.programs.clear()

    def test_western_code_page(self):
        self.check_texts_under("en_US.UTF-8", 1252)

    def test_japanese_code_page(self):
        self.check_texts_under("ja_JP.UTF-8", 932)


def twips_to_pixels(twips, dpi):
    """As FLTX rounds them: to the nearest pixel."""
    return (twips * dpi + 720) // 1440


class Dpi(DesktopTest):
    @staticmethod
    def set_dpi(dpi, restart):
        """Sets the DPI; with `restart`, of the whole session, desktop and all, as after a sign-in."""
        set_registry_value(r"HKCU\Control Panel\Desktop", "LogPixels", dpi, kind="REG_DWORD")
        if restart:
            restart_wine_server()

    def change_dpi(self, dpi, restart):
        """Sets the DPI for this test; afterwards, the test's programs closed,
        the session goes back to 96."""
        self.set_dpi(dpi, restart)
        self.addCleanup(self.set_dpi, 96, True)
        self.addCleanup(self.stop_programs)

    def check_layout_at(self, dpi, client, command1, command2):
        self.change_dpi(dpi, restart=True)
        _, fltx = self.start_fltx()
        self.assertEqual(fltx["dpi"], dpi)
        self.assertEqual(fltx["clientSize"], client)
        self.assertEqual([c["clientRect"] for c in fltx["children"]], [command1, command2])
        screenshot(SHOTS / f"fltx-{dpi}dpi.png", crop_of(fltx))

    def test_client_area_is_exact_after_the_dpi_changes_under_a_running_server(self):
        # As after a change in winecfg while Dusk Vein keeps the server running.
        # Wine 10 then draws a new program's frame at the new DPI while its
        # window is laid out at the desktop's old one; Wine 8 moves both.
        self.change_dpi(144, restart=False)
        _, fltx = self.start_fltx()
        # The DPI it laid itself out at, told by where TB starts and ends. (Wine 8
        # tells another process the desktop's DPI here, not the window's.)
        tb_left, _, tb_right, _ = self.button(fltx, COMMAND2)["clientRect"]
        dpi = next((dpi for dpi in (96, 120, 144, 168, 192)
                    if [twips_to_pixels(600, dpi), twips_to_pixels(1095, dpi)] == [tb_left, tb_right]), None)
        self.assertIsNotNone(dpi, f"TB from {tb_left} to {tb_right} is laid out at no DPI of Wine's")
        client = [twips_to_pixels(1095, dpi), twips_to_pixels(375, dpi)]
        screenshot(SHOTS / "fltx-dpi-changed-under-server.png", crop_of(fltx))
        self.assertEqual(fltx["clientSize"], client, f"the client area at {dpi} DPI")
        self.assertEqual([c["clientRect"][3] - c["clientRect"][1] for c in fltx["children"]], [client[1]] * 2,
                         "both buttons are as high as the client area")

    def test_asks_for_its_frame_to_scale_while_it_is_created(self):
        # Windows 10 1607 scales the frame of a per-monitor v1 window only when it
        # calls EnableNonClientDpiScaling during WM_NCCREATE. Wine's relay trace of
        # the two calls shows the call, for FLTX, inside its CreateWindowExW.
        debug_key = r"HKCU\Software\Wine\Debug"
        set_registry_value(debug_key, "RelayInclude", "user32.CreateWindowExW;user32.EnableNonClientDpiScaling")
        self.addCleanup(run_wine_tool, "reg", "delete", debug_key, "/v", "RelayInclude", "/f")
        program, fltx = self.start_fltx(env=dict(ENV, WINEDEBUG="+relay"))
        program.stderr.seek(0)
        trace = program.stderr.read().decode("utf-8", "replace")
        # The calls of the thread that creates FLTX alone: other processes that
        # Wine starts on the way write their own traces to the same file.
        thread = re.search(r"^(\w+):Call +user32\.CreateWindowExW\([^\n]*L\"FLTX\"", trace, re.M).group(1)
        calls = re.findall(rf"^{thread}:Call +user32\.(\w+)\(([0-9a-fA-F]*)", trace, re.M)
        # FLTX is the first window the program creates, and its buttons come
        # later, in WM_CREATE: the call must come between the two.
        self.assertEqual([function for function, _ in calls[:3]],
                         ["CreateWindowExW", "EnableNonClientDpiScaling", "CreateWindowExW"])
        self.assertEqual([int(window, 16) for function, window in calls if function == "EnableNonClientDpiScaling"],
                         [fltx["hwnd"]])

    def test_120_dpi(self):
        self.check_layout_at(120, [91, 31], [0, 0, 41, 31], [50, 0, 91, 31])

    def test_144_dpi(self):
        self.check_layout_at(144, [110, 38], [0, 0, 50, 38], [60, 0, 110, 38])


if __name__ == "__main__":
    unittest.main()
