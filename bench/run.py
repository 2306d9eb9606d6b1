#!/usr/bin/env python3
"""Compares Framelatch.exe with the floor, a bare Win32 program doing the same
job, under Wine in the running session; prints a Markdown table.

    FRAMELATCH_SESSION=STATE FRAMELATCH_BIN=DIR FRAMELATCH_OBJDUMP=TOOL run.py [--starts N] [--presses N]

Both programs must be built for the session's architecture.
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from harness import BIN, ENV, WINE, DesktopTest, probe, wait_until, windows_path  # noqa: E402

PRODUCT, FLOOR = "Framelatch.exe", "FramelatchFloor.exe"
ARCH = ENV["WINEARCH"]
OBJDUMP = os.environ.get("FRAMELATCH_OBJDUMP", "i686-w64-mingw32-objdump")


def bench(*args):
    out = subprocess.run([WINE, str(BIN / "bench.exe"), *map(str, args)], env=ENV, check=True,
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=600).stdout
    return json.loads(out)


def memory_kib(pid):
    """Working set (Rss) and private memory (Private_Clean + Private_Dirty) of the
    Wine process, from the kernel's own accounting in /proc/PID/smaps_rollup."""
    fields = {}
    for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines()[1:]:
        name, value = line.split(":", 1)
        fields[name] = int(value.split()[0])
    return fields["Rss"], fields["Private_Clean"] + fields["Private_Dirty"]


def idle_memory(exe):
    process = subprocess.Popen([WINE, str(BIN / exe)], env=ENV, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window = wait_until(lambda: next((w for w in probe("windows", "FLTX") if w["visible"]), None),
                            what=f"{exe}'s window")
        readings = [memory_kib(process.pid)]
        for _ in range(40):                       # idle: two readings a half second apart agree
            time.sleep(0.5)
            readings.append(memory_kib(process.pid))
            if abs(readings[-1][1] - readings[-2][1]) <= 4:
                break
        probe("close", window["hwnd"])
        process.wait(timeout=20)
        return readings[-1]
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def imports(exe):
    text = subprocess.run([OBJDUMP, "-p", str(BIN / exe)], check=True, capture_output=True,
                          text=True).stdout
    return sorted(name.upper() for name in re.findall(r"DLL Name: (\S+)", text))


def summary(values):
    values = sorted(values)
    q = statistics.quantiles(values, n=4)
    return statistics.median(values), q[0], q[2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--starts", type=int, default=81)
    parser.add_argument("--presses", type=int, default=201)
    parser.add_argument("--memory-rounds", type=int, default=5)
    options = parser.parse_args()

    exes = (PRODUCT, FLOOR)
    startup = {exe: [] for exe in exes}
    working_set = {exe: [] for exe in exes}
    private = {exe: [] for exe in exes}
    desktop = DesktopTest()
    desktop.programs = []
    try:
        # The target runs throughout, as it does for a user; it also keeps Wine's
        # desktop process up, which would otherwise restart with every program.
        _, target = desktop.start_target()

        for _ in range(2):                        # warm up the prefix and the file cache
            for exe in exes:
                bench("startup", windows_path(BIN / exe))
        for round_ in range(options.starts):
            for exe in (exes if round_ % 2 == 0 else exes[::-1]):
                startup[exe].append(bench("startup", windows_path(BIN / exe))["ms"])

        for round_ in range(options.memory_rounds):
            for exe in (exes if round_ % 2 == 0 else exes[::-1]):
                rss, priv = idle_memory(exe)
                working_set[exe].append(rss)
                private[exe].append(priv)

        product = desktop.start_fltx()[1]
        floor_program = desktop.start("FramelatchFloor.exe")
        floor = wait_until(lambda: next((w for w in probe("windows", "FLTX")
                                         if w["hwnd"] != product["hwnd"] and w["visible"]), None),
                           what="the floor's window")
        floor_program.window = floor
        bench("latency", product["hwnd"], floor["hwnd"], target["hwnd"], 20)   # warm-up
        latency = bench("latency", product["hwnd"], floor["hwnd"], target["hwnd"], options.presses)
    finally:
        desktop.stop_programs()
    latency = {PRODUCT: latency["product"], FLOOR: latency["floor"]}

    rows = []

    def row(name, unit, data, limit=None, ratio=True):
        p, f = summary(data[PRODUCT]), summary(data[FLOOR])
        digits = 2 if ratio else 0
        cells = [name] + [f"{m:.{digits}f} {unit} ({low:.{digits}f}–{high:.{digits}f})" for m, low, high in (p, f)]
        cells.append(f"{p[0] / f[0]:.3f}" if ratio else f"{p[0] - f[0]:+.0f} {unit}")
        cells.append(limit or "")
        rows.append(cells)

    row(f"start-up to a visible, input-idle window (median of {options.starts})", "ms", startup, "≤ 1.05×")
    row(f"press latency, posted click to WM_STYLECHANGED (median of {options.presses})", "ms", latency, "≤ 1.05×")
    row(f"working set once idle (median of {options.memory_rounds})", "KiB", working_set, ratio=False)
    row(f"private memory once idle (median of {options.memory_rounds})", "KiB", private, "≤ +512 KiB", ratio=False)
    sizes = {exe: (BIN / exe).stat().st_size for exe in exes}
    rows.append(["file size", f"{sizes[PRODUCT]} bytes ({sizes[PRODUCT] / 1024:.1f} KiB)",
                 f"{sizes[FLOOR]} bytes ({sizes[FLOOR] / 1024:.1f} KiB)",
                 f"{sizes[PRODUCT] / sizes[FLOOR]:.2f}", "≤ 32 KiB"])
    rows.append(["imported DLLs", ", ".join(imports(PRODUCT)), ", ".join(imports(FLOOR)), "", "system DLLs only"])

    bits = {"win32": "32-bit", "win64": "64-bit"}[ARCH]
    print(f"Both programs built for {bits} Windows ({ARCH}), run under Wine in a {ARCH} prefix.")
    print()
    print(f"| measure ({ARCH}) | Framelatch.exe | floor | product / floor | target |")
    print("|---|---|---|---|---|")
    for cells in rows:
        print("| " + " | ".join(cells) + " |")
    print()
    print("Medians, with the interquartile range in brackets. The last two columns compare the medians: as a")
    print("ratio for times, as a difference for memory.")


if __name__ == "__main__":
    main()
