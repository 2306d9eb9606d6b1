"""The 32-bit and the 64-bit build together in one 64-bit prefix, as users run
them: the recommended 32-bit Framelatch beside a 64-bit Dusk Vein, and the
64-bit Framelatch beside a 32-bit one."""
import unittest

from harness import BIN, COMMAND1, COMMAND2, FULL_FRAME, WS_CAPTION, WS_MINIMIZEBOX, DesktopTest
from wine_session import WIN32_BIN, why_no_32_bit_build_here

NO_MIN_BOX = FULL_FRAME & ~WS_MINIMIZEBOX


class MixedBuilds(DesktopTest):
    def setUp(self):
        if why := why_no_32_bit_build_here():
            self.skipTest(why)
        super().setUp()

    def check_presses_and_warning(self, fltx_bin, target_bin):
        target_program, target = self.start_target(style=NO_MIN_BOX, bin=target_bin)
        _, fltx = self.start_fltx(bin=fltx_bin)
        bits = {WIN32_BIN: 32, BIN: 64}
        self.assertEqual((fltx["bits"], target["bits"]), (bits[fltx_bin], bits[target_bin]),
                         "the programs run as the builds they come from")

        # TB flips, Min sets, TB sets, Min flips: every press changes the style.
        for control_id, style in ((COMMAND2, NO_MIN_BOX & ~WS_CAPTION), (COMMAND1, FULL_FRAME & ~WS_CAPTION),
                                  (COMMAND2, FULL_FRAME), (COMMAND1, NO_MIN_BOX)):
            self.press(fltx, control_id)
            self.wait_for_style(target, style)

        target_program.stop()
        self.press(fltx, COMMAND2)
        self.close_warning(fltx)

    def test_32_bit_framelatch_switches_a_64_bit_target(self):
        self.check_presses_and_warning(fltx_bin=WIN32_BIN, target_bin=BIN)

    def test_64_bit_framelatch_switches_a_32_bit_target(self):
        self.check_presses_and_warning(fltx_bin=BIN, target_bin=WIN32_BIN)


if __name__ == "__main__":
    unittest.main()
