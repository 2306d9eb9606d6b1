"""Framelatch started in another Wine prefix than the target's, on the same
display: it cannot see the target, says that Dusk Vein is not running, and
changes nothing."""
import os
import unittest
from pathlib import Path

from harness import (BIN, COMMAND1, COMMAND2, ENV, FULL_FRAME, NOT_RUNNING, DesktopTest, host_runs_32_bit_code, key,
                     probe, session_env, wait_until)

SECOND = session_env(Path(os.environ["FRAMELATCH_SECOND_SESSION"]))
WIN32_BIN = Path(os.environ.get("FRAMELATCH_WIN32_BIN", BIN.parent / "windows"))


class SecondPrefix(DesktopTest):
    sessions = (ENV, SECOND)

    def test_framelatch_outside_the_targets_prefix_warns_and_changes_nothing(self):
        self.assertEqual(SECOND["DISPLAY"], ENV["DISPLAY"], "both prefixes show on one display")
        self.assertNotEqual(SECOND["WINEPREFIX"], ENV["WINEPREFIX"])
        _, target = self.start_target()

        builds = [("this build", BIN)]
        if ENV["WINEARCH"] == "win64" and host_runs_32_bit_code()[0] and (WIN32_BIN / "Framelatch.exe").exists():
            builds.append(("the 32-bit build", WIN32_BIN))
        for name, bin in builds:
            with self.subTest(name):
                program, fltx = self.start_fltx(env=SECOND, bin=bin)
                for control_id in (COMMAND2, COMMAND1):
                    self.press(fltx, control_id)
                    box = wait_until(lambda: self.box_of(fltx, env=SECOND), what="the not-running warning")
                    self.assertEqual((box["message"], box["text"]), (NOT_RUNNING, "Framelatch"))
                    key("Return")
                    wait_until(lambda: self.box_of(fltx, env=SECOND) is None, what="the warning to close")
                program.stop()

        self.assertEqual(self.target_style(target), FULL_FRAME)
        self.assertEqual(probe("style-changes", target["hwnd"]), 0, "no press may reach the other prefix")


if __name__ == "__main__":
    unittest.main()
