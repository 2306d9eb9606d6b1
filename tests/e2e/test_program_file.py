"""Framelatch.exe as a file: what it imports, its PE header, and its resources."""
import re
import subprocess
import unittest

from harness import BIN, probe, windows_path

EXE = BIN / "Framelatch.exe"
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll"}
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100


def headers():
    return subprocess.run(["i686-w64-mingw32-objdump", "-p", "-h", str(EXE)], check=True,
                          capture_output=True, text=True).stdout


class ProgramFile(unittest.TestCase):
    def test_is_a_32_bit_gui_program_that_imports_system_dlls_only(self):
        text = headers()
        self.assertIn("file format pei-i386", text)
        self.assertRegex(text, r"Magic\s+010b\s+\(PE32\)")
        self.assertRegex(text, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", text)}
        self.assertTrue(imports, "no imports found")
        self.assertLessEqual(imports, SYSTEM_DLLS, f"imports beyond the system's own DLLs: {imports - SYSTEM_DLLS}")

    def test_has_aslr_and_dep_with_relocations_to_move_it(self):
        text = headers()
        flags = int(re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", text).group(1), 16)
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "no ASLR flag")
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "no DEP flag")
        self.assertRegex(text, r"\.reloc", "an image that may move needs its relocations")

    def test_carries_one_32_by_32_icon_a_manifest_and_its_version(self):
        resources = probe("resources", windows_path(EXE))
        self.assertEqual(resources["groupIconIds"], [1])
        self.assertEqual(len(resources["iconIds"]), 1)
        self.assertEqual(resources["group1"], [{"width": 32, "height": 32, "bitCount": 32, "imageBitCount": 32,
                                                "imageWidth": 32, "imageHeight": 32}])
        self.assertTrue(resources["manifest"])
        self.assertEqual(resources["version"]["ProductName"], "Framelatch")
        self.assertRegex(resources["version"]["FileVersion"], r"^\d+\.\d+\.\d+$")


if __name__ == "__main__":
    unittest.main()
