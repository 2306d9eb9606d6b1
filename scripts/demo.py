#!/usr/bin/env python3
"""Shows Framelatch at work on a virtual display: starts the stand-in target
and Framelatch in the running Wine session, presses "TB" and "Min" as a user
would, and saves screenshots before and after.

    FRAMELATCH_SESSION=STATE FRAMELATCH_BIN=DIR demo.py OUTDIR
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from harness import COMMAND1, COMMAND2, WS_CAPTION, WS_MINIMIZEBOX, DesktopTest, wait_until  # noqa: E402
from wine_session import screenshot  # noqa: E402


CROP = "560x360+0+0"   # FLTX and the stand-in, as they open


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "build/screenshots").resolve()
    out.mkdir(parents=True, exist_ok=True)

    desktop = DesktopTest()
    desktop.programs = []
    try:
        _, target = desktop.start_target()
        _, fltx = desktop.start_fltx()
        wait_until(lambda: desktop.window(fltx["hwnd"])["focus"] == COMMAND1, what="FLTX to settle")
        shots = [screenshot(out / "1-before.png", CROP)]

        desktop.press(fltx, COMMAND2)
        wait_until(lambda: not desktop.target_style(target) & WS_CAPTION, what="the title bar to go")
        shots.append(screenshot(out / "2-after-TB.png", CROP))

        desktop.press(fltx, COMMAND1)     # the first press keeps a minimize box that is there
        desktop.press(fltx, COMMAND1)     # the second removes it
        wait_until(lambda: not desktop.target_style(target) & WS_MINIMIZEBOX, what="the minimize box to go")
        desktop.press(fltx, COMMAND2)     # and the title bar comes back, without it
        wait_until(lambda: desktop.target_style(target) & WS_CAPTION, what="the title bar to come back")
        shots.append(screenshot(out / "3-after-Min-Min-TB.png", CROP))
    finally:
        desktop.stop_programs()

    for shot in shots:
        print(f"screenshot: {shot}")


if __name__ == "__main__":
    main()
