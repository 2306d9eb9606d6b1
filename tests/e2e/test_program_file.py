"""Framelatch.exe as a file: its PE header, what it imports, its manifest and
version resource. Needs no Wine, so it runs for both builds on every host, as
do the checks of the release zip, its signing and the guides beside it."""
import os
import re
import shlex
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

BIN = Path(os.environ.get("FRAMELATCH_BIN", Path(__file__).resolve().parents[2] / "build" / "windows"))
ARCH = os.environ.get("FRAMELATCH_ARCH", "win32")
OBJDUMP = os.environ.get("FRAMELATCH_OBJDUMP", "i686-w64-mingw32-objdump")
EXE = BIN / "Framelatch.exe"
VERSION = re.search(r'CPACK_PACKAGE_VERSION "([^"]+)"', (BIN / "CPackConfig.cmake").read_text()).group(1)
CPACK = os.environ.get("FRAMELATCH_CPACK", "cpack")

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll"}
IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA = 0x0020
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000

# What each build must be: objdump's name for the format, the optional header's
# magic, and the processor architecture its manifest names.
EXPECTED = {
    "win32": ("pei-i386", "010b", "PE32", "x86"),
    "win64": ("pei-x86-64", "020b", "PE32+", "amd64"),
}

# Every function the program may import, by DLL: what it imports today, each
# one in Windows 7 by the "Minimum supported client" of the Windows
# documentation (Windows 2000, XP or Vista for all of them). The calls that
# Windows 7 lacks (GetDpiForWindow, AdjustWindowRectExForDpi,
# SystemParametersInfoForDpi, EnableNonClientDpiScaling: Windows 10 1607;
# SetDefaultDllDirectories: only with an update) are looked up at run time
# and must never be listed here: a program that imports them does not start there.
WINDOWS_7_IMPORTS = {
    "comctl32.dll": {"InitCommonControlsEx"},
    "gdi32.dll": {
        "CreateCompatibleDC", "CreateDIBSection", "CreateFontIndirectW", "DeleteDC", "DeleteObject",
        "EnumFontFamiliesExW", "ExtTextOutW", "GdiFlush", "GetDeviceCaps", "GetObjectW", "SelectObject",
    },
    "kernel32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetCurrentThreadId", "GetLastError",
        "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetStartupInfoW", "InitializeCriticalSection",
        "LeaveCriticalSection", "LoadLibraryA", "MulDiv", "SetDllDirectoryW", "SetLastError",
        "SetUnhandledExceptionFilter", "Sleep", "TlsGetValue", "VirtualProtect", "VirtualQuery",
        "__C_specific_handler",                     # 64-bit structured exception handling
    },
    "user32.dll": {
        "AdjustWindowRectEx", "CallNextHookEx", "CallWindowProcW", "CreateWindowExW", "DefWindowProcW",
        "DestroyWindow", "DispatchMessageW", "DrawTextW", "FindWindowA", "GetClientRect", "GetDC", "GetDlgCtrlID",
        "GetFocus", "GetMessageW", "GetWindow", "GetWindowLongA", "GetWindowLongPtrW", "GetWindowLongW",
        "GetWindowRect", "GetWindowTextW", "IsDialogMessageW", "IsIconic", "IsWindowVisible", "IsZoomed",
        "LoadCursorW", "LoadIconW", "MapWindowPoints", "MessageBoxW", "MoveWindow", "PostMessageW",
        "PostQuitMessage", "RegisterClassExW", "ReleaseDC", "SendMessageW", "SetFocus", "SetWindowLongA",
        "SetWindowLongPtrW", "SetWindowLongW", "SetWindowPos", "SetWindowsHookExW", "ShowWindow",
        "SystemParametersInfoW", "TranslateMessage", "UnhookWindowsHookEx",
    },
    # The C runtime that every Windows has carried since Windows 2000, used by
    # the MinGW-w64 start-up code; all of these are in Windows 7's copy.
    "msvcrt.dll": {
        "__iob_func", "__p__commode", "__p__fmode", "__p__wcmdln", "__set_app_type", "__setusermatherr",
        "__wgetmainargs", "__winitenv", "_amsg_exit", "_cexit", "_commode", "_fmode", "_initterm", "_iob",
        "_onexit", "_wcmdln", "abort", "calloc", "exit", "fprintf", "free", "fwrite", "malloc", "memcmp",
        "memcpy", "signal", "strlen", "strncmp", "vfprintf", "wcscmp",
        "wcslen",                                   # GCC 14's start-up code (Debian 13)
    },
}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WINDOWS_SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


def headers(exe=EXE):
    return subprocess.run([OBJDUMP, "-p", "-h", str(exe)], check=True, capture_output=True, text=True).stdout


def imported_functions(exe=EXE):
    """(DLL, function) for every function the program imports, as objdump reads its import tables."""
    tables = re.search(r"^The Import Tables.*?(?=^The |^PE File|\Z)", headers(exe), re.M | re.S).group(0)
    imports = set()
    for dll, names in re.findall(r"DLL Name: (\S+)\n.*\n((?:\t[0-9a-f]+\s.*\n)*)", tables):
        imports |= {(dll.lower(), entry.split()[-1]) for entry in names.splitlines()}
    return imports


def version_text(name, exe=EXE):
    """The value of the version resource's string `name`, and the StringTable it is in, as windres reads them."""
    resources = subprocess.run([OBJDUMP.replace("objdump", "windres"), "-i", str(exe), "-O", "rc"], check=True,
                               capture_output=True, text=True).stdout
    found = re.search(rf'BLOCK "(\w{{8}})"\s+BEGIN(?:\s+VALUE "[^"]*", "[^"]*")*?\s+VALUE "{name}", "([^"]*)"',
                      resources)
    return (found.group(2), found.group(1)) if found else (None, None)


def embedded_manifest(exe=EXE):
    data = exe.read_bytes()
    start = data.find(b"<?xml")
    end = data.find(b"</assembly>", start)
    if start < 0 or end < 0:
        return None
    return ElementTree.fromstring(data[start:end + len(b"</assembly>")])


class ProgramFile(unittest.TestCase):
    exe = EXE

    def test_is_a_gui_program_of_its_architecture_that_imports_system_dlls_only(self):
        file_format, magic, magic_name, _ = EXPECTED[ARCH]
        text = headers(self.exe)
        self.assertEqual(re.search(r"file format (\S+)", text).group(1), file_format)
        self.assertEqual(re.search(r"Magic\s+(\S+\s+\(\S+\))", text).group(1).split(), [magic, f"({magic_name})"])
        self.assertRegex(text, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        imports = {dll for dll, _ in imported_functions(self.exe)}
        self.assertTrue(imports, "no imports found")
        self.assertLessEqual(imports, SYSTEM_DLLS, f"imports beyond the system's own DLLs: {imports - SYSTEM_DLLS}")

    def test_imports_only_functions_that_windows_7_has(self):
        imports = imported_functions(self.exe)
        self.assertIn(("user32.dll", "CreateWindowExW"), imports, "the import table was not read")
        allowed = {(dll, name) for dll, names in WINDOWS_7_IMPORTS.items() for name in names}
        self.assertEqual(sorted(imports - allowed), [], "imports that Windows 7 may lack")

    def test_declares_windows_7_and_terminal_server_awareness(self):
        text = headers(self.exe)
        for field in ("OSystemVersion", "SubsystemVersion"):
            major, minor = (int(re.search(rf"{part}{field}\s+(\d+)", text).group(1)) for part in ("Major", "Minor"))
            self.assertEqual((major, minor), (6, 1), f"{field}: Windows 7 is the oldest supported")
        flags = int(re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", text).group(1), 16)
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, "Remote Desktop would apply shims")

    def test_file_description_is_the_program_name(self):
        # Task Manager shows the FileDescription as the program's name.
        self.assertEqual(version_text("FileDescription", self.exe), ("Framelatch", "040904B0"))
        self.assertEqual(version_text("ProductName", self.exe), ("Framelatch", "040904B0"))

    def test_has_aslr_and_dep_with_relocations_to_move_it(self):
        text = headers(self.exe)
        flags = int(re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", text).group(1), 16)
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "no ASLR flag")
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "no DEP flag")
        if ARCH == "win64":
            self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, "no high-entropy ASLR flag")
        self.assertRegex(text, r"\.reloc", "an image that may move needs its relocations")

    def test_stays_under_32_kib(self):
        # A signature, appended as the file's last part, adds a few KiB of its own.
        security = re.search(r"Entry 4 ([0-9a-fA-F]+) ([0-9a-fA-F]+) Security Directory", headers(self.exe))
        program = int(security.group(1), 16) if security and int(security.group(2), 16) else self.exe.stat().st_size
        self.assertLessEqual(program, 32 * 1024)

    def test_manifest_names_its_architecture_and_asks_for_no_elevation(self):
        manifest = embedded_manifest(self.exe)
        self.assertIsNotNone(manifest, "no manifest in the program file")
        identity = manifest.find(f"{ASM_V1}assemblyIdentity")
        self.assertEqual(identity.get("processorArchitecture"), EXPECTED[ARCH][3])
        level = manifest.find(f".//{ASM_V3}requestedExecutionLevel")
        self.assertEqual(level.get("level"), "asInvoker")
        controls = [d for d in manifest.iter(f"{ASM_V1}assemblyIdentity")
                    if d.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual([c.get("version") for c in controls], ["6.0.0.0"])

    def test_manifest_asks_for_per_monitor_dpi_and_system_dpi_before_windows_10(self):
        manifest = embedded_manifest(self.exe)
        awareness = manifest.find(f".//{WINDOWS_SETTINGS_2016}dpiAwareness")
        self.assertIsNotNone(awareness, "no dpiAwareness: blurry on a monitor of another scale")
        self.assertEqual([value.strip() for value in awareness.text.split(",")], ["PerMonitorV2", "PerMonitor"])
        self.assertEqual(manifest.find(f".//{WINDOWS_SETTINGS_2005}dpiAware").text.strip(), "true")


def make_release(folder, env=None, terminal=False):
    """Runs the release build of this build's zip into `folder`, signed as `env`
    alone asks (unsigned without it), from a terminal of its own (util-linux's
    script) with its input left open where asked; returns its run."""
    unsigned = {name: value for name, value in os.environ.items() if not name.startswith("FRAMELATCH_SIGN_")}
    command = [CPACK, "--config", str(BIN / "CPackConfig.cmake"), "-B", str(folder)]
    if terminal:
        command = ["script", "-qec", shlex.join(command), "/dev/null"]
    held, writer = os.pipe()        # the terminal's input, open until the release has run
    try:
        return subprocess.run(command, capture_output=True, text=True, timeout=300, env=unsigned | (env or {}),
                              stdin=held if terminal else None)
    finally:
        os.close(held)
        os.close(writer)


if __name__ == "__main__":
    unittest.main()
