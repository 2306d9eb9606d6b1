"""The test run's Wine session, as tests/wine/session.sh started it: its
settings, its Wine server and its screen. What the tests change of it (a
display, a driver) stays with this process; the processes they start for it
are named in its folder, where stopping the session finds them."""
import os
import re
import subprocess
import time
from pathlib import Path

BIN = Path(os.environ.get("FRAMELATCH_BIN", Path(__file__).resolve().parents[2] / "build" / "windows"))
SESSION = Path(__file__).resolve().parents[1] / "wine" / "session.sh"


STATE = os.environ.get("FRAMELATCH_SESSION", BIN / "tests" / "wine-session.env")


def session_env(state=STATE):
    """A session's environment variables, as the session itself gives them."""
    out = subprocess.run([SESSION, "env", state, "env", "-0"], check=True, capture_output=True).stdout
    return dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)


ENV = session_env()
# The 32-bit build's folder, which the 64-bit build's tests run beside it.
WIN32_BIN = Path(os.environ.get("FRAMELATCH_WIN32_BIN", BIN.parent / "windows"))


def why_no_32_bit_build_here():
    """Why the 32-bit build cannot run in this session beside this one; None when it can."""
    if ENV["WINEARCH"] != "win64":
        return "needs a 64-bit prefix; this session's is 32-bit"
    arch, why = subprocess.run([Path(__file__).resolve().parents[1] / "wine" / "wine-host.sh", "host-arch"],
                               check=True, capture_output=True, text=True, timeout=60).stdout.strip().split(" ", 1)
    if arch != "win32" and not os.environ.get("FRAMELATCH_WOW64"):
        return f"the 32-bit build cannot run under Wine here: {why}"
    if not (WIN32_BIN / "Framelatch.exe").exists():
        return f"no 32-bit build in {WIN32_BIN}: build the windows preset first"
    return None


def record(**settings):
    """Takes settings into the session's programs from now on (None unsets one)."""
    for name, value in settings.items():
        if value is None:
            ENV.pop(name, None)
        else:
            ENV[name] = str(value)


def keep(role, pid):
    """Names process `pid`, started for the session as `role` ("1-wm": the place
    among the others at which stopping the session stops it, then its name)."""
    subprocess.run([SESSION, "keep", STATE, role, str(pid)], check=True)


def release(*roles):
    """Stops the processes named as `roles`, each only while it is still the
    process the session started (asked first, killed after 10 s)."""
    subprocess.run([SESSION, "release", STATE, *roles], check=True, timeout=60)


def kept(role):
    return Path(ENV["FRAMELATCH_SESSION_ROOT"], "pids", role).exists()


def stop_wine_server():
    """Ends every program of the session's prefix, and its server, waiting
    (ten seconds at most) for the server to be gone."""
    server = ENV.get("WINESERVER", "wineserver")
    subprocess.run([server, "-k"], env=ENV, capture_output=True, timeout=60)
    for _ in range(100):
        if subprocess.run([server, "-k0"], env=ENV, capture_output=True, timeout=60).returncode != 0:
            return
        time.sleep(0.1)


def start_wine_server():
    """Starts the session's server, persistent, so that the booted prefix stays
    warm between programs; it reads its settings (the DPI among them) afresh."""
    with open(Path(ENV["FRAMELATCH_SESSION_ROOT"], "wineserver.log"), "a") as log:
        subprocess.run([ENV.get("WINESERVER", "wineserver"), "-p"], env=ENV, stdin=subprocess.DEVNULL, stdout=log,
                       stderr=log, check=True, timeout=60)


def restart_wine_server():
    """As after a sign-in: every program of the session ends, and what the
    server read at its start is read afresh by every program from now on."""
    stop_wine_server()
    start_wine_server()


def screenshot(path, crop=None):
    """Saves the session's screen, or the part `crop` ("WxH+X+Y") of it, as a PNG
    file: from X, or from GNOME Shell, which draws the screen itself, as its
    screenshot tool takes it."""
    path = Path(path).resolve()
    path.parent.mkdir(parents=True, exist_ok=True)
    if ENV.get("FRAMELATCH_WM", "").startswith("gnome-shell"):
        if crop:
            width, height, x, y = re.fullmatch(r"(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", crop).groups()
            method, arguments = "ScreenshotArea", [x, y, width, height, "false"]
        else:
            method, arguments = "Screenshot", ["false", "false"]
        command = ["gdbus", "call", "--session", "--dest", "org.gnome.Shell.Screenshot", "--object-path",
                   "/org/gnome/Shell/Screenshot", "--method", f"org.gnome.Shell.Screenshot.{method}", *arguments]
    else:
        command = ["import", "-window", "root", *(["-crop", crop] if crop else [])]
    subprocess.run([*command, str(path)], env=ENV, check=True, capture_output=True, timeout=60)
    return path
