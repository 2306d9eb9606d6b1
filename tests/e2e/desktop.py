"""The desktop of a window-manager session: which window manager or Wayland
compositor is in charge of it.

An X11 window manager manages the session's Xvfb display. A Wayland compositor
brings its own Xwayland display, where the session then runs, or (the
*-winewayland entries) only its Wayland display, for Wine's own Wayland
driver, with no X at all. Everything a desktop needs (its buses, its
compositor's runtime folder) is the session's own, in the session's folder,
and every process it starts is named in the session's folder, so that
stopping the session stops it by its PID."""
import re
import shutil
import subprocess
import threading
from pathlib import Path

from harness import run_wine_tool, wait_until
from wine_session import ENV, keep, kept, record, release, start_wine_server, stop_wine_server

X11, XWAYLAND, WINE_WAYLAND = "X11", "Xwayland", "Wine's Wayland driver"
# Stands for the program that a Wayland compositor starts in its session to tell its displays.
TELL = "tell-display.sh"
# GNOME's Wayland session as GNOME Shell runs it, with no screen; its D-Bus
# interfaces (screenshots, and Eval, which starts TELL) open to the tests.
GNOME_SHELL = ["gnome-shell", "--headless", "--unsafe-mode", "--virtual-monitor", "1280x800",
               "--wayland-display=wayland-framelatch", "--sm-disable"]
# Each window manager by name: the desktop it makes, and the command that runs
# it on its own as its desktop runs it.
WINDOW_MANAGERS = {
    "openbox": (X11, ["openbox", "--sm-disable"]),
    "mutter": (X11, ["mutter", "--x11", "--replace", "--sm-disable"]),                   # GNOME
    "kwin": (X11, ["kwin_x11", "--replace"]),                                              # KDE Plasma
    "xfwm4": (X11, ["xfwm4", "--replace", "--compositor=off"]),                           # Xfce
    "mutter-wayland": (XWAYLAND, ["mutter", "--wayland", "--headless", "--virtual-monitor", "1280x800",
                                  "--sm-disable", "--", TELL]),
    "gnome-shell": (XWAYLAND, GNOME_SHELL),
    "kwin-wayland": (XWAYLAND, ["kwin_wayland", "--virtual", "--xwayland", "--width", "1280", "--height", "800",
                                TELL]),
    "gnome-shell-winewayland": (WINE_WAYLAND, GNOME_SHELL),
    "kwin-winewayland": (WINE_WAYLAND, ["kwin_wayland", "--virtual", "--width", "1280", "--height", "800", TELL]),
}
# It starts in its overview, with a notification, as after a sign-in: both
# closed, as a player's first clicks would. (Its start-up ends at a frame
# drawn, which a screen that shows nothing may never ask for.)
GNOME_SHELL_SETTLED = """global.stage.queue_redraw();
if (!Main.layoutManager._startingUp) {
    Main.overview.hide();
    Main.messageTray.getSources().forEach(source => source.destroy());
}
!Main.layoutManager._startingUp && !Main.overview.visible && !Main.overview.animationInProgress &&
Main.messageTray.getSources().length === 0"""
GNOME_SHELL_STATE = ("[Main.layoutManager._startingUp, Main.overview.visible, Main.overview.animationInProgress, "
                     "Main.messageTray.getSources().length]")


class Unavailable(Exception):
    """Why a window manager cannot run here."""


def why_not_here(name, command):
    """Why window manager `name` cannot run here, or None. Where KWin's Wayland
    compositor has a file capability (to raise its own limits) that a container
    may not grant, its command gets a copy without it: the same compositor."""
    program = command[0]
    if not shutil.which(program):
        return f"{program} is not installed"
    if name.endswith("-winewayland"):
        version = subprocess.run([ENV["WINELOADER"], "--version"], env=ENV, capture_output=True,
                                 text=True).stdout.strip()
        found = re.match(r"wine-(\d+)", version)
        if not found or int(found.group(1)) < 9:
            return f"{version or 'unknown'} has no Wayland driver (Wine 9 on)"
    needs = {"gdbus": "gdbus (libglib2.0-bin), which talks to GNOME Shell",
             "dbus-daemon": "dbus-daemon, for GNOME Shell's session and system buses"} if program == "gnome-shell" else {}
    if program in ("mutter", "gnome-shell") and any(part.startswith("--wayland") for part in command):
        needs["Xwayland"] = "Xwayland (xwayland)"
    for tool, what in needs.items():
        if not shutil.which(tool):
            return f"{what} is not installed"
    # Without its decoration plugin, KWin draws no frame at all.
    if program.startswith("kwin_") and subprocess.run(["dpkg-query", "-W", "-f=${Status}", "kwin-style-breeze"],
                                                      capture_output=True, text=True).stdout != "install ok installed":
        return "KWin's Breeze decoration (kwin-style-breeze) is not installed"
    if program == "kwin_wayland" and not starts(program)[0]:
        command[0] = shutil.copy(shutil.which(program), Path(ENV["FRAMELATCH_SESSION_ROOT"], program))
        runs, printed = starts(command[0])
        if not runs:
            return f"kwin_wayland does not start here: {(printed.strip().splitlines() or ['no output'])[0]}"
    return None


def starts(program):
    """Whether `program --version` runs here, and what it printed or why it did not."""
    try:
        run = subprocess.run([program, "--version"], env=ENV, capture_output=True, text=True, timeout=60)
    except OSError as error:
        return False, str(error)
    return run.returncode == 0, run.stdout + run.stderr


def start(name):
    """Puts window manager `name` in charge of the session's desktop, in place of
    the one it has; raises Unavailable, saying why, where it cannot run here."""
    kind, command = WINDOW_MANAGERS[name]
    root = Path(ENV["FRAMELATCH_SESSION_ROOT"])
    tell, told, runtime = root / TELL, root / "display-told", root / "runtime"
    command = [str(tell) if part == TELL else part for part in command]
    if why := why_not_here(name, command):
        raise Unavailable(why)
    stop()
    # GNOME's and KDE's window managers want a session bus, as their desktops
    # give them, and GNOME Shell the system bus every desktop has too: both the
    # session's own, at addresses in its folder.
    if not kept("3-dbus") and shutil.which("dbus-daemon"):
        start_bus("DBUS_SESSION_BUS_ADDRESS", "3-dbus", root / "session-bus")
    if name.startswith("gnome-shell") and not kept("4-system_dbus"):
        start_bus("DBUS_SYSTEM_BUS_ADDRESS", "4-system_dbus", root / "system-bus")
    if kind == X11:
        switch_wine_driver()
        switch_display(ENV["FRAMELATCH_X_DISPLAY"])
        subprocess.run(["xprop", "-root", "-remove", "_NET_SUPPORTING_WM_CHECK"], env=ENV, capture_output=True)
        env = ENV
    else:
        # The compositor's session: its runtime folder, and a program in it that
        # tells its displays and stays until stopped by its PID.
        runtime.mkdir(mode=0o700, exist_ok=True)
        told.unlink(missing_ok=True)
        tell.write_text(f'#!/bin/sh\necho "$$|${{DISPLAY:-}}|${{XAUTHORITY:-}}|${{WAYLAND_DISPLAY:-}}" >"{told}.new" '
                        f'&& mv "{told}.new" "{told}"\nexec sleep 2147483647\n')
        tell.chmod(0o755)
        env = {key: value for key, value in ENV.items() if key not in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY")}
        env["XDG_RUNTIME_DIR"] = str(runtime)
    log = root / f"{name}.log"
    with open(log, "w") as output:
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=output, stderr=output)
    # Named before it can be reaped, then reaped as soon as it ends: its number never names another.
    keep("1-wm", process.pid)
    threading.Thread(target=process.wait, daemon=True).start()
    record(FRAMELATCH_WM=name)

    def wait(condition, seconds, what, state=lambda: ""):
        try:
            wait_until(condition, timeout=seconds, what=what)
        except AssertionError as error:
            raise AssertionError(f"{name}: {error}{state()}; its log:\n{log.read_text(errors='replace')}") from None
    if name.startswith("gnome-shell"):
        wait(lambda: gnome_shell_eval(GNOME_SHELL_SETTLED) == "true", 60, "it to settle on its desktop",
             lambda: f" (starting up, overview shown, overview moving, notification sources: "
                     f"{gnome_shell_eval(GNOME_SHELL_STATE)})")
        # The program that tells its displays, started by GNOME Shell itself, as its own are.
        if gnome_shell_eval(f"GLib.spawn_command_line_async('{tell}')") != "true":
            raise AssertionError(f"{name} did not start {tell}")
    if kind != X11:
        wait(lambda: told.exists() and told.stat().st_size, 60, "it to start its session")
        child, x_display, xauthority, wayland_display = told.read_text().strip().split("|")
        keep("2-wm_child", child)
        if kind == WINE_WAYLAND:
            switch_wine_driver(wayland_display, runtime)
            return
        switch_wine_driver()
        switch_display(x_display, xauthority or None)
    # A window manager is in charge once it names itself on the root window.
    wait(lambda: "window id" in subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=ENV,
                                               capture_output=True, text=True).stdout, 30, "it to manage the display")


def gnome_shell_eval(script):
    """What GNOME Shell (started with --unsafe-mode) answers to JavaScript, as
    JSON text; None where it fails or is not there."""
    answer = subprocess.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                             "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", script], env=ENV,
                            capture_output=True, text=True, timeout=30).stdout
    found = re.fullmatch(r"\(true, '(.*)'\)\s*", answer, re.S)
    return found.group(1) if found else None


def start_bus(address, role, socket):
    """Starts a D-Bus bus for the session, listening at `socket`, and records its
    address and its process, as `role`. Which bus it stands for (session or system) is only where
    its address goes: each is a plain bus for this user."""
    with open(socket.with_suffix(".log"), "w") as log:
        printed = subprocess.run(["dbus-daemon", "--session", f"--address=unix:path={socket}", "--nopidfile",
                                  "--fork", "--print-address=1", "--print-pid=1"], env=ENV, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=log, text=True, check=True, timeout=30).stdout
    bus_address, bus_pid = printed.split()
    record(**{address: bus_address})
    keep(role, bus_pid)


def switch_display(display, xauthority=None):
    """Points the session at X display `display`: every program of the session
    ends, and its server starts anew, so that Wine's desktop process is on that
    display too."""
    if ENV.get("DISPLAY") != display:
        stop_wine_server()
        record(DISPLAY=display, XAUTHORITY=xauthority)
        start_wine_server()


def switch_wine_driver(wayland_display=None, runtime=None):
    """Points the session's programs at Wine's own Wayland driver on the Wayland
    display of the compositor's runtime folder, with no X display at all, as
    Heroic's "Enable Wine-Wayland" or Proton's PROTON_ENABLE_WAYLAND=1 does; with
    no display, back to Wine's X11 driver."""
    if not wayland_display and "FRAMELATCH_WINE_WAYLAND" not in ENV:
        return
    stop_wine_server()
    if wayland_display:
        record(DISPLAY=None, XAUTHORITY=None, WAYLAND_DISPLAY=wayland_display, XDG_RUNTIME_DIR=runtime,
               FRAMELATCH_WINE_WAYLAND=1)
    else:
        record(WAYLAND_DISPLAY=None, FRAMELATCH_WINE_WAYLAND=None)
    start_wine_server()
    drivers = r"HKCU\Software\Wine\Drivers"
    if wayland_display:
        run_wine_tool("reg", "add", drivers, "/v", "Graphics", "/d", "wayland", "/f")
    else:
        run_wine_tool("reg", "delete", drivers, "/v", "Graphics", "/f")


def stop():
    """Stops the desktop's window manager, if it has one, with the program a
    Wayland compositor started in its session."""
    release("1-wm", "2-wm_child")
