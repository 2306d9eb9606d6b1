"""Framelatch started in another Wine prefix than the target's, on the same
display: it cannot see the target, says that Dusk Vein is not running, and
changes nothing."""
import os
import unittest
from pathlib import Path

from harness import BIN, COMMAND1, COMMAND2, ENV, FULL_FRAME, DesktopTest, probe
from wine_session import WIN32_BIN, session_env, why_no_32_bit_build_here

SECOND = session_env(Path(os.environ["FRAMELATCH_SECOND_SESSION"]))


class SecondPrefix(DesktopTest):
    sessions = (ENV, SECOND)

    def test_framelatch_outside_the_targets_prefix_warns_and_changes_nothing(self):
        self.assertEqual(SECOND["DISPLAY"], ENV["DISPLAY"], "both prefixes show on one display")
        self.assertNotEqual(SECOND["WINEPREFIX"], ENV["WINEPREFIX"])
        _, target = self.start_target()

        builds = [("this build", BIN)]
        if why_no_32_bit_build_here() is None:
            builds.append(("the 32-bit build", WIN32_BIN))
        for name, bin in builds:
            with self.subTest(name):
                program, fltx = self.start_fltx(env=SECOND, bin=bin)
                for control_id in (COMMAND2, COMMAND1):
                    self.press(fltx, control_id)
                    self.close_warning(fltx, env=SECOND)
                program.stop()

        self.assertEqual(self.target_style(target), FULL_FRAME)
        self.assertEqual(probe("style-changes", target["hwnd"]), 0, "no press may reach the other prefix")


if __name__ == "__main__":
    unittest.main()
